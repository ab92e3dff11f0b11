// CRC-16 with the reflected polynomial 0xA001, one table lookup per byte.
#include <array>

#include "lha/archive.h"

namespace zembrat::lha {
namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t value = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) ? static_cast<std::uint16_t>((value >> 1) ^ 0xA001)
                                : static_cast<std::uint16_t>(value >> 1);
        }
        table[i] = value;
    }
    return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

std::uint16_t Crc16(std::span<const std::byte> data, std::uint16_t crc) {
    for (std::byte b : data) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^
                                         kTable[(crc ^ std::to_integer<unsigned>(b)) & 0xFF]);
    }
    return crc;
}

}  // namespace zembrat::lha
