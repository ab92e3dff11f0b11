// CRC-16 with the reflected polynomial 0xA001, eight bytes per step ("slicing by 8").
#include <array>
#include <cstring>

#include "lha/archive.h"

namespace zembrat::lha {
namespace {

using Tables = std::array<std::array<std::uint16_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables t{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t value = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) ? static_cast<std::uint16_t>((value >> 1) ^ 0xA001)
                                : static_cast<std::uint16_t>(value >> 1);
        }
        t[0][i] = value;
    }
    // t[k][i]: the CRC of byte i followed by k zero bytes.
    for (int k = 1; k < 8; ++k) {
        for (unsigned i = 0; i < 256; ++i) {
            std::uint16_t prev = t[k - 1][i];
            t[k][i] = static_cast<std::uint16_t>((prev >> 8) ^ t[0][prev & 0xFF]);
        }
    }
    return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

std::uint16_t Crc16(std::span<const std::byte> data, std::uint16_t crc) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t n = data.size();
    while (n >= 8) {
        std::uint32_t low = static_cast<std::uint32_t>(p[0] | (p[1] << 8)) ^ crc;
        crc = static_cast<std::uint16_t>(kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^
                                         kTables[5][p[2]] ^ kTables[4][p[3]] ^ kTables[3][p[4]] ^
                                         kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]]);
        p += 8;
        n -= 8;
    }
    while (n-- > 0) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTables[0][(crc ^ *p++) & 0xFF]);
    }
    return crc;
}

}  // namespace zembrat::lha
