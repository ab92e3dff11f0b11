// Little-endian field access for header bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zembrat::lha {

inline std::uint8_t U8(std::span<const std::byte> b, std::size_t at) {
    return std::to_integer<std::uint8_t>(b[at]);
}
inline std::uint16_t U16(std::span<const std::byte> b, std::size_t at) {
    return static_cast<std::uint16_t>(U8(b, at) | (U8(b, at + 1) << 8));
}
inline std::uint32_t U32(std::span<const std::byte> b, std::size_t at) {
    return static_cast<std::uint32_t>(U16(b, at)) |
           (static_cast<std::uint32_t>(U16(b, at + 2)) << 16);
}
inline std::uint64_t U64(std::span<const std::byte> b, std::size_t at) {
    return static_cast<std::uint64_t>(U32(b, at)) |
           (static_cast<std::uint64_t>(U32(b, at + 4)) << 32);
}

inline void PutU8(std::vector<std::byte>& out, unsigned value) {
    out.push_back(static_cast<std::byte>(value & 0xFF));
}
inline void PutU16(std::vector<std::byte>& out, unsigned value) {
    PutU8(out, value);
    PutU8(out, value >> 8);
}
inline void PutU32(std::vector<std::byte>& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}
inline void PutU64(std::vector<std::byte>& out, std::uint64_t value) {
    PutU32(out, static_cast<std::uint32_t>(value));
    PutU32(out, static_cast<std::uint32_t>(value >> 32));
}
inline void SetU16(std::vector<std::byte>& out, std::size_t at, unsigned value) {
    out[at] = static_cast<std::byte>(value & 0xFF);
    out[at + 1] = static_cast<std::byte>((value >> 8) & 0xFF);
}

}  // namespace zembrat::lha
