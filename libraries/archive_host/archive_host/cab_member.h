// What the cabinet setup of the helper puts into HostMember::formatName: the folder's method
// and the member's attribute byte, "MSZIP/a0" (hex). The attribute 0x80 says the stored name
// is UTF-8; without it the name is in the maker's code page.
#pragma once

#include <cstdint>
#include <cstdio>
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

}  // namespace zembrat::archive_host
