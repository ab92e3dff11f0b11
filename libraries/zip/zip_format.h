// The ZIP container's records and fields, as this engine writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zembrat::zip::format {

inline constexpr std::uint32_t kLocalHeader = 0x04034b50;
inline constexpr std::uint32_t kCentralHeader = 0x02014b50;
inline constexpr std::uint32_t kZip64EndRecord = 0x06064b50;
inline constexpr std::uint32_t kZip64EndLocator = 0x07064b50;
inline constexpr std::uint32_t kEndRecord = 0x06054b50;

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflate = 8;

inline constexpr std::uint16_t kFlagUtf8Name = 1u << 11;

// Version 2.0 suffices for deflate and folders, 4.5 for ZIP64 fields; made on Unix (3).
inline constexpr std::uint16_t kVersionDeflate = 20;
inline constexpr std::uint16_t kVersionZip64 = 45;
inline constexpr std::uint16_t kMadeByUnix = 3 << 8;

inline constexpr std::uint16_t kExtraZip64 = 0x0001;
inline constexpr std::uint16_t kExtraTimestamp = 0x5455;
inline constexpr std::uint16_t kExtraUnicodePath = 0x7075;

// Fields of 32 bits hold this when the value lives in the ZIP64 field; 16-bit counts likewise.
inline constexpr std::uint32_t kOverflow32 = 0xFFFFFFFF;
inline constexpr std::uint16_t kOverflow16 = 0xFFFF;

inline constexpr std::uint32_t kDosDirectory = 0x10;

inline void Put16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

inline void Put32(std::string& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
}

inline void Put64(std::string& out, std::uint64_t value) {
    Put32(out, static_cast<std::uint32_t>(value & 0xFFFFFFFF));
    Put32(out, static_cast<std::uint32_t>(value >> 32));
}

inline void PutExtra(std::string& out, std::uint16_t id, std::string_view data) {
    Put16(out, id);
    Put16(out, static_cast<std::uint16_t>(data.size()));
    out.append(data);
}

}  // namespace zembrat::zip::format
