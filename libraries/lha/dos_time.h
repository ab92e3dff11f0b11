// MS-DOS date and time stamps (local time) as level 0 and 1 headers carry them.
#pragma once

#include <cstdint>

namespace zembrat::lha {

// time in the low 16 bits, date in the high 16 bits, as stored in the header.
std::int64_t DosTimeToUnix(std::uint32_t dosTime);
std::uint32_t UnixToDosTime(std::int64_t unixTime);

}  // namespace zembrat::lha
