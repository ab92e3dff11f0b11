#include "huffman_decoder.h"

#include <algorithm>
#include <array>

namespace zembrat::lha {

void HuffmanDecoder::Invalid() {
    throw Error(ErrorKind::kCorruptData, "invalid Huffman code");
}

void HuffmanDecoder::BuildSingle(std::uint16_t symbol) {
    single_ = true;
    singleSymbol_ = symbol;
}

void HuffmanDecoder::Build(std::span<const std::uint8_t> lengths) {
    single_ = false;
    std::array<std::uint32_t, 17> count{};
    for (std::uint8_t length : lengths) {
        if (length > 16) {
            throw Error(ErrorKind::kCorruptData, "Huffman code length over 16");
        }
        ++count[length];
    }
    count[0] = 0;
    maxLength_ = 1;
    std::uint32_t space = 0;
    for (int length = 1; length <= 16; ++length) {
        space += count[length] << (16 - length);
        if (count[length] != 0) {
            maxLength_ = length;
        }
    }
    if (space > (1u << 16)) {
        throw Error(ErrorKind::kCorruptData, "oversubscribed Huffman table");
    }
    // An incomplete code is accepted; its unused codes fail when met.
    std::array<std::uint32_t, 18> next{};
    for (int length = 1; length <= 16; ++length) {
        next[length + 1] = (next[length] + count[length]) << 1;
    }
    rootBits_ = std::min(kRootBits, maxLength_);
    int subBits = maxLength_ - rootBits_;
    subMask_ = (1u << subBits) - 1;
    table_.assign(std::size_t{1} << rootBits_, 0);
    for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        int length = lengths[symbol];
        if (length == 0) {
            continue;
        }
        std::uint32_t code = next[length]++;
        std::uint32_t entry =
            static_cast<std::uint32_t>(symbol << 8) | static_cast<std::uint32_t>(length);
        if (length <= rootBits_) {
            std::uint32_t first = code << (rootBits_ - length);
            std::uint32_t span = 1u << (rootBits_ - length);
            std::fill_n(table_.begin() + first, span, entry);
            continue;
        }
        std::uint32_t prefix = code >> (length - rootBits_);
        if (!(table_[prefix] & kSubtable)) {
            table_[prefix] = static_cast<std::uint32_t>(table_.size() << 8) | kSubtable;
            table_.resize(table_.size() + (std::size_t{1} << subBits), 0);
        }
        std::uint32_t base = table_[prefix] >> 8;
        std::uint32_t first = (code << (maxLength_ - length)) & subMask_;
        std::uint32_t span = 1u << (maxLength_ - length);
        std::fill_n(table_.begin() + base + first, span, entry);
    }
}

}  // namespace zembrat::lha
