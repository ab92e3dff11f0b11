// What the cabinet setup of the helper puts into HostMember::formatName: the folder's method
// and the member's attribute byte, "MSZIP/a0" (hex). The attribute 0x80 says the stored name
// is UTF-8; without it the name is in the maker's code page.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace zembrat::archive_host {

inline constexpr std::string_view kCabinetFormat = "cab";

struct CabinetMemberInfo {
    std::string method;
    std::uint32_t attributes = 0;
};

inline std::string EncodeCabinetInfo(const CabinetMemberInfo& info) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "/%x", static_cast<unsigned>(info.attributes & 0xFFFF));
    return info.method + hex;
}

inline std::optional<CabinetMemberInfo> DecodeCabinetInfo(std::string_view text) {
    const std::size_t slash = text.rfind('/');
    if (slash == std::string_view::npos || slash + 1 == text.size() || text.size() - slash > 5) {
        return std::nullopt;
    }
    CabinetMemberInfo info;
    info.method = std::string(text.substr(0, slash));
    for (const char digit : text.substr(slash + 1)) {
        const int value = digit >= '0' && digit <= '9'   ? digit - '0'
                          : digit >= 'a' && digit <= 'f' ? digit - 'a' + 10
                                                         : -1;
        if (value < 0) {
            return std::nullopt;
        }
        info.attributes = info.attributes * 16 + static_cast<std::uint32_t>(value);
    }
    return info;
}

// A data block's checksum: its bytes as little-endian 32-bit words XORed together, the last
// one to three bytes as one word, big end first; seeded with the checksum of what came
// before (the block's data first, then its two size fields).
inline std::uint32_t CabinetBlockChecksum(std::string_view data, std::uint32_t seed) {
    const auto byte = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(data[at]));
    };
    std::size_t at = 0;
    for (; at + 4 <= data.size(); at += 4) {
        seed ^= byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 | byte(at + 3) << 24;
    }
    std::uint32_t tail = 0;
    for (; at < data.size(); ++at) {
        tail = (tail << 8) | byte(at);
    }
    return seed ^ tail;
}

// A member's time from libmspack's date and time fields, read as local time as cabinets
// store it (a template: this header does not depend on libmspack's).
template <typename CabinetFile>
std::int64_t CabinetMemberTime(const CabinetFile& file) {
    std::tm fields{};
    fields.tm_year = file.date_y - 1900;
    fields.tm_mon = file.date_m - 1;
    fields.tm_mday = file.date_d;
    fields.tm_hour = file.time_h;
    fields.tm_min = file.time_m;
    fields.tm_sec = file.time_s;
    fields.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&fields));
}

}  // namespace zembrat::archive_host
