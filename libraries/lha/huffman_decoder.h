// Table-driven decoding of canonical Huffman codes of up to 16 bits.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "bit_reader.h"

namespace zembrat::lha {

class HuffmanDecoder {
  public:
    // lengths[i] is the code length of symbol i (0 = unused, at most 16). Throws
    // Error(kCorruptData) when the lengths describe no valid code.
    void Build(std::span<const std::uint8_t> lengths);
    // A code with one symbol, which takes no bits.
    void BuildSingle(std::uint16_t symbol);

    std::uint16_t Decode(BitReader& bits) const {
        if (single_) {
            return singleSymbol_;
        }
        std::uint32_t peek = bits.Peek16();
        std::uint32_t entry = table_[peek >> (16 - rootBits_)];
        if (entry & kSubtable) {
            entry = table_[(entry >> 8) + ((peek >> (16 - maxLength_)) & subMask_)];
        }
        int length = static_cast<int>(entry & 0x1F);
        if (length == 0) {
            Invalid();
        }
        bits.Skip(length);
        return static_cast<std::uint16_t>(entry >> 8);
    }

  private:
    [[noreturn]] static void Invalid();

    static constexpr std::uint32_t kSubtable = 0x20;
    static constexpr int kRootBits = 10;

    // symbol << 8 | length, or offset << 8 | kSubtable; before Build, every code is invalid.
    std::vector<std::uint32_t> table_ = std::vector<std::uint32_t>(2, 0);
    int rootBits_ = 1;
    int maxLength_ = 1;
    std::uint32_t subMask_ = 0;
    bool single_ = false;
    std::uint16_t singleSymbol_ = 0;
};

}  // namespace zembrat::lha
