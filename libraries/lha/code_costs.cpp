#include "code_costs.h"

#include <bit>

#include "huffman_encoder.h"

namespace zembrat::lha {
namespace {

constexpr int kMaxCodeLength = 16;
constexpr std::uint32_t kUnused = 16;  // bits for a code its block did not use

std::uint32_t ExtraBits(std::size_t slot) {
    return slot > 1 ? static_cast<std::uint32_t>(slot) - 1 : 0;
}

}  // namespace

CodeCosts CodeCosts::Starting() {
    CodeCosts costs;
    std::array<std::uint8_t, 510> literalLengths{};
    for (std::size_t code = 0; code < literalLengths.size(); ++code) {
        literalLengths[code] =
            static_cast<std::uint8_t>(code < 256 ? 8 : 7 + std::bit_width(code - 255));
    }
    std::array<std::uint8_t, 32> positionLengths{};
    for (std::uint32_t slot = 0; slot < positionLengths.size(); ++slot) {
        positionLengths[slot] =
            static_cast<std::uint8_t>(3 + slot + (slot > 1 ? slot - 1 : 0) / 2 - ExtraBits(slot));
    }
    PriceByLengths(costs, literalLengths, positionLengths);
    return costs;
}

void PriceByLengths(CodeCosts& costs, std::span<const std::uint8_t> literalLengths,
                    std::span<const std::uint8_t> positionLengths) {
    for (std::size_t code = 0; code < literalLengths.size(); ++code) {
        std::uint32_t length = literalLengths[code] != 0 ? literalLengths[code] : kUnused;
        costs.code[code] =
            length * CodeCosts::kScale + (code < 256 ? 0 : CodeCosts::kMatchSurcharge);
    }
    for (std::size_t slot = 0; slot < costs.position.size(); ++slot) {
        std::uint32_t length = slot < positionLengths.size() && positionLengths[slot] != 0
                                   ? positionLengths[slot]
                                   : kUnused;
        costs.position[slot] = (length + ExtraBits(slot)) * CodeCosts::kScale;
    }
}

void PriceByCounts(CodeCosts& costs, std::span<const std::uint32_t> literalFrequency,
                   std::span<const std::uint32_t> positionFrequency) {
    PriceByLengths(costs, BuildCodeLengths(literalFrequency, kMaxCodeLength),
                   BuildCodeLengths(positionFrequency, kMaxCodeLength));
}

}  // namespace zembrat::lha
