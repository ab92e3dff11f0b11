#include "huffman.h"

#include <algorithm>

namespace zembrat::rar {

void HuffmanTable::Build(std::span<const std::uint8_t> lengths) {
    if (lengths.size() > kMaxSymbols) {
        lengths = lengths.first(kMaxSymbols);
    }
    std::array<std::uint32_t, 16> perLength{};
    for (const std::uint8_t length : lengths) {
        ++perLength[length & 15];
    }
    perLength[0] = 0;
    std::uint32_t upper = 0;
    limit_[0] = 0;
    first_[0] = 0;
    for (unsigned length = 1; length < 16; ++length) {
        upper += perLength[length] << (16 - length);
        limit_[length] = std::min<std::uint32_t>(upper, 0x10000);
        first_[length] = first_[length - 1] + perLength[length - 1];
    }
    std::array<std::uint32_t, 16> next = first_;
    count_ = 0;
    symbols_.fill(0);
    for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        const unsigned length = lengths[symbol] & 15;
        if (length != 0) {
            symbols_[next[length]++] = static_cast<std::uint16_t>(symbol);
            ++count_;
        }
    }
    if (count_ == 0) {
        count_ = 1;  // every pattern decodes as symbol 0
    }
    for (std::uint32_t index = 0; index < quick_.size(); ++index) {
        const std::uint32_t bits = index << (16 - kQuickBits);
        unsigned length = 1;
        while (length < 15 && bits >= limit_[length]) {
            ++length;
        }
        if (length > kQuickBits) {
            length = kQuickBits;  // only reached for patterns above limit_[kQuickBits]
        }
        quick_[index] = length << 16 | SymbolAt(bits, length);
    }
}

}  // namespace zembrat::rar
