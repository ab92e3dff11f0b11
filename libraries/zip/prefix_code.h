// Decoding table of a canonical prefix code (Deflate's and Deflate64's trees, Implode's
// Shannon-Fano trees), read with BitInput: one lookup of the longest code's width.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "bit_input.h"

namespace zembrat::zip::decode {

class PrefixCode {
  public:
    // lengths[symbol]: 0 for a symbol not in the code. inverted: every bit of a code is stored
    // complemented (Implode). An over-full code is damaged data; a code with room to spare is
    // taken, and the unused bit patterns are damaged data when met.
    void Build(std::span<const std::uint8_t> lengths, bool inverted = false) {
        int longest = 0;
        std::uint32_t counts[kMaxLength + 1] = {};
        for (const std::uint8_t length : lengths) {
            if (length > kMaxLength) {
                Corrupt("a code is too long");
            }
            ++counts[length];
            longest = std::max<int>(longest, length);
        }
        counts[0] = 0;
        std::int64_t room = 1;
        std::uint32_t next[kMaxLength + 1] = {};
        std::uint32_t code = 0;
        for (int length = 1; length <= kMaxLength; ++length) {
            room = room * 2 - counts[length];
            if (room < 0) {
                Corrupt("an over-full prefix code");
            }
            code = (code + counts[length - 1]) << 1;
            next[length] = code;
        }
        width_ = std::max(longest, 1);
        table_.assign(std::size_t{1} << width_, 0);
        for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
            const int length = lengths[symbol];
            if (length == 0) {
                continue;
            }
            std::uint32_t value = next[length]++;
            if (inverted) {
                value = ~value & ((1u << length) - 1);
            }
            std::uint32_t reversed = 0;
            for (int bit = 0; bit < length; ++bit) {
                reversed |= ((value >> bit) & 1u) << (length - 1 - bit);
            }
            const std::uint32_t entry =
                (static_cast<std::uint32_t>(symbol) << 8) | static_cast<std::uint32_t>(length);
            for (std::uint32_t at = reversed; at < table_.size(); at += 1u << length) {
                table_[at] = entry;
            }
        }
    }

    std::uint32_t Decode(BitInput& bits) const {
        const std::uint32_t entry = table_[bits.Peek(width_)];
        if (entry == 0) {
            Corrupt("a bit pattern that is no code");
        }
        bits.Drop(static_cast<int>(entry & 0xFF));
        return entry >> 8;
    }

  private:
    static constexpr int kMaxLength = 16;
    std::vector<std::uint32_t> table_;
    int width_ = 1;
};

}  // namespace zembrat::zip::decode
