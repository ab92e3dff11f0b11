// File times as 64-bit Windows file-time values (100 ns since 1601-01-01 UTC), so that the
// records of the library contract keep their layout, with the conversions the component
// and the libraries need.
#pragma once

#include <cstdint>
#include <optional>

namespace zembrat::platform {

using FileTime = std::uint64_t;

struct SystemTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

FileTime FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds = 0);
std::int64_t UnixSecondsFromFileTime(FileTime time);

// Shift by the local time-zone offset in force at that instant.
FileTime FileTimeToLocalFileTime(FileTime utc);
FileTime LocalFileTimeToFileTime(FileTime local);

// Broken-down calendar form, without any time-zone change. Times past the end of year 30827
// give its last millisecond.
SystemTime FileTimeToSystemTime(FileTime time);
// Nothing for an impossible date or time.
std::optional<FileTime> SystemTimeToFileTime(const SystemTime& time);

// MS-DOS date and time words (2-second resolution), without any time-zone change. Words
// that name no real date or time (month 0, hour 24, ...) give 0; times before 1980 or after
// 2107, which the words cannot hold, are pinned to the first or last moment they can.
FileTime DosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime);
void FileTimeToDosDateTime(FileTime time, std::uint16_t& dosDate, std::uint16_t& dosTime);

// The local calendar time now.
SystemTime GetLocalTime();

}  // namespace zembrat::platform
