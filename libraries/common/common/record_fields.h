// The numbers of an ARCHIVE_ENTRY_RECORD, whose fields are narrower than what archives hold.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zembrat::common {

// A size for a 32-bit field: larger ones read as the largest.
inline std::uint32_t Clamp32(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu));
}

// The compressed size in thousandths of the original (0 for an empty member), at most 0xFFFF.
inline std::uint16_t CompressionRatio(std::uint64_t compressed, std::uint64_t original) {
    if (original == 0) {
        return 0;
    }
    return static_cast<std::uint16_t>(
        std::min<std::uint64_t>(compressed * 1000 / original, 0xFFFF));
}

// The same share as a listing shows it: "  6.1%", or "    -" for an empty member.
inline std::string CompressionRatioText(std::uint64_t compressed, std::uint64_t original) {
    char text[16];
    if (original == 0) {
        std::snprintf(text, sizeof text, "%5s", "-");
    } else {
        std::snprintf(text, sizeof text, "%5.1f%%",
                      static_cast<double>(compressed) * 100.0 / static_cast<double>(original));
    }
    return text;
}

}  // namespace zembrat::common
