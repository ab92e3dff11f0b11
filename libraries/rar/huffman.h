// The canonical Huffman decoder of every method from 2.0 on: codes are given by their
// lengths (0 to 15 bits), shorter codes first and, within a length, in symbol order.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "bit_input.h"

namespace zembrat::rar {

class HuffmanTable {
  public:
    static constexpr std::size_t kMaxSymbols = 306;

    // Lengths of more than kMaxSymbols symbols are not used.
    void Build(std::span<const std::uint8_t> lengths);

    // Never fails: a bit pattern no code owns decodes as some symbol of the table.
    unsigned Decode(BitInput& input) const {
        const std::uint32_t bits = input.Peek16() & 0xFFFE;
        if (bits < limit_[kQuickBits]) {
            const std::uint32_t entry = quick_[bits >> (16 - kQuickBits)];
            input.Skip(entry >> 16);
            return entry & 0xFFFF;
        }
        unsigned length = kQuickBits + 1;
        while (length < 15 && bits >= limit_[length]) {
            ++length;
        }
        input.Skip(length);
        return SymbolAt(bits, length);
    }

  private:
    static constexpr unsigned kQuickBits = 10;

    unsigned SymbolAt(std::uint32_t bits, unsigned length) const {
        std::uint32_t place = first_[length] + ((bits - limit_[length - 1]) >> (16 - length));
        if (place >= count_) {
            place = 0;
        }
        return symbols_[place];
    }

    std::array<std::uint32_t, 16> limit_{};  // codes of up to this length lie below, left-justified
    std::array<std::uint32_t, 16> first_{};  // where codes of this length start in symbols_
    std::array<std::uint16_t, kMaxSymbols> symbols_{};
    std::uint32_t count_ = 1;
    std::array<std::uint32_t, 1u << kQuickBits> quick_{};  // length << 16 | symbol
};

// A symbol above 15 in a table of code lengths: a run that repeats the previous length or
// writes zeros, as many as `base` plus the value of the next `extraBits` bits.
struct LengthRun {
    bool repeatsPrevious;
    unsigned extraBits;
    unsigned base;
};

// Reads the code lengths of a block's tables with `lengthCodes`: a symbol below 16 is added
// (modulo 16) to the length the same place had in `previous`, a higher one is runs[symbol - 16].
// False when the input ran out, a repeat came first or a symbol has no run.
bool ReadCodeLengths(BitInput& input, const HuffmanTable& lengthCodes,
                     std::span<const LengthRun> runs, std::span<const std::uint8_t> previous,
                     std::span<std::uint8_t> lengths);

}  // namespace zembrat::rar
