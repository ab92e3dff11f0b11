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

bool ReadCodeLengths(BitInput& input, const HuffmanTable& lengthCodes,
                     std::span<const LengthRun> runs, std::span<const std::uint8_t> previous,
                     std::span<std::uint8_t> lengths) {
    for (std::size_t i = 0; i < lengths.size();) {
        if (input.PastEnd()) {
            return false;
        }
        const unsigned symbol = lengthCodes.Decode(input);
        if (symbol < 16) {
            lengths[i] = static_cast<std::uint8_t>((symbol + previous[i]) & 0x0F);
            ++i;
            continue;
        }
        if (symbol - 16 >= runs.size()) {
            return false;
        }
        const LengthRun& run = runs[symbol - 16];
        const unsigned count = input.Read(run.extraBits) + run.base;
        if (run.repeatsPrevious && i == 0) {
            return false;
        }
        const std::uint8_t value = run.repeatsPrevious ? lengths[i - 1] : 0;
        for (unsigned n = 0; n < count && i < lengths.size(); ++n) {
            lengths[i++] = value;
        }
    }
    return !input.PastEnd();
}

}  // namespace zembrat::rar
