#include "dos_time.h"

#include <ctime>

namespace zembrat::lha {

std::int64_t DosTimeToUnix(std::uint32_t dosTime) {
    std::tm parts{};
    parts.tm_sec = static_cast<int>((dosTime & 0x1F) * 2);
    parts.tm_min = static_cast<int>((dosTime >> 5) & 0x3F);
    parts.tm_hour = static_cast<int>((dosTime >> 11) & 0x1F);
    parts.tm_mday = static_cast<int>((dosTime >> 16) & 0x1F);
    parts.tm_mon = static_cast<int>(((dosTime >> 21) & 0x0F)) - 1;
    parts.tm_year = static_cast<int>((dosTime >> 25) & 0x7F) + 80;
    parts.tm_isdst = -1;
    std::time_t result = std::mktime(&parts);
    return result == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(result);
}

std::uint32_t UnixToDosTime(std::int64_t unixTime) {
    std::time_t value = static_cast<std::time_t>(unixTime);
    std::tm parts{};
    if (localtime_r(&value, &parts) == nullptr || parts.tm_year < 80) {
        return (1u << 21) | (1u << 16);  // 1980-01-01 00:00, the earliest stamp there is
    }
    if (parts.tm_year > 80 + 127) {
        parts.tm_year = 80 + 127;
    }
    return static_cast<std::uint32_t>(parts.tm_sec / 2) |
           (static_cast<std::uint32_t>(parts.tm_min) << 5) |
           (static_cast<std::uint32_t>(parts.tm_hour) << 11) |
           (static_cast<std::uint32_t>(parts.tm_mday) << 16) |
           (static_cast<std::uint32_t>(parts.tm_mon + 1) << 21) |
           (static_cast<std::uint32_t>(parts.tm_year - 80) << 25);
}

}  // namespace zembrat::lha
