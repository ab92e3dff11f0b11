// What each code of the static Huffman family costs in bits: the parser weighs matches
// against literals by it.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <span>

namespace zembrat::lha {

// Costs are in eighths of a bit. Each match length is priced kMatchSurcharge dearer than its
// code: with whole-bit code lengths many paths tie, and leaning to fewer, longer matches
// among them made the output smaller.
struct CodeCosts {
    static constexpr std::uint32_t kScale = 8;
    static constexpr std::uint32_t kMatchSurcharge = 6;

    std::array<std::uint32_t, 510> code{};     // literals, then match lengths 3..256
    std::array<std::uint32_t, 32> position{};  // per slot, extra bits included

    // Before anything has been priced: literals at 8 bits, lengths and positions a little
    // dearer as they grow.
    static CodeCosts Starting();
};

// Prices the codes by the lengths a block gave them; codes it did not use are priced high.
void PriceByLengths(CodeCosts& costs, std::span<const std::uint8_t> literalLengths,
                    std::span<const std::uint8_t> positionLengths);

// Prices the codes by the lengths a block of codes counted so would give them.
void PriceByCounts(CodeCosts& costs, std::span<const std::uint32_t> literalFrequency,
                   std::span<const std::uint32_t> positionFrequency);

// The position slot of a distance - 1: 0, or its bit width.
inline std::uint32_t PositionSlot(std::uint32_t position) {
    return static_cast<std::uint32_t>(std::bit_width(position));
}

}  // namespace zembrat::lha
