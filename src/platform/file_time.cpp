#include "platform/file_time.h"

#include <chrono>
#include <ctime>
#include <limits>

namespace zembrat::platform {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kTicksPerMillisecond = 10'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochSeconds = 11'644'473'600;
constexpr FileTime kLargestFileTime = std::numeric_limits<FileTime>::max();
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochDays = kUnixEpochSeconds / kSecondsPerDay;

// Adds a signed number of seconds, staying inside the range of file times.
FileTime ShiftBySeconds(FileTime time, std::int64_t seconds) {
    if (seconds >= 0) {
        const auto ticks = static_cast<FileTime>(seconds) * kTicksPerSecond;
        return time > kLargestFileTime - ticks ? kLargestFileTime : time + ticks;
    }
    const auto ticks = static_cast<FileTime>(-seconds) * kTicksPerSecond;
    return time < ticks ? 0 : time - ticks;
}

// The local time zone's offset from UTC, in seconds, at the given instant.
std::int64_t LocalOffsetAt(std::int64_t unixSeconds) {
    const auto instant = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (localtime_r(&instant, &local) == nullptr) {
        return 0;
    }
    return local.tm_gmtoff;
}

}  // namespace

FileTime FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds) {
    if (seconds < -kUnixEpochSeconds) {
        return 0;
    }
    const auto sinceEpoch = static_cast<FileTime>(seconds + kUnixEpochSeconds);
    if (sinceEpoch > kLargestFileTime / kTicksPerSecond - 1) {
        return kLargestFileTime;
    }
    return sinceEpoch * kTicksPerSecond + nanoseconds / 100;
}

std::int64_t UnixSecondsFromFileTime(FileTime time) {
    return static_cast<std::int64_t>(time / kTicksPerSecond) - kUnixEpochSeconds;
}

FileTime FileTimeToLocalFileTime(FileTime utc) {
    return ShiftBySeconds(utc, LocalOffsetAt(UnixSecondsFromFileTime(utc)));
}

FileTime LocalFileTimeToFileTime(FileTime local) {
    // The offset belongs to the UTC instant, which is not known yet: take the offset at the
    // local reading, then the offset at the instant that gives.
    const std::int64_t localSeconds = UnixSecondsFromFileTime(local);
    const std::int64_t firstGuess = LocalOffsetAt(localSeconds);
    return ShiftBySeconds(local, -LocalOffsetAt(localSeconds - firstGuess));
}

SystemTime FileTimeToSystemTime(FileTime time) {
    using namespace std::chrono;
    static const FileTime kLastRepresentable =
        *SystemTimeToFileTime(SystemTime{30827, 12, 31, 23, 59, 59, 999});
    if (time > kLastRepresentable) {
        time = kLastRepresentable;
    }
    const auto totalSeconds = static_cast<std::int64_t>(time / kTicksPerSecond);
    const std::int64_t days = totalSeconds / kSecondsPerDay;
    const std::int64_t secondOfDay = totalSeconds % kSecondsPerDay;
    const year_month_day date{sys_days{std::chrono::days{days - kUnixEpochDays}}};

    SystemTime result;
    result.year = static_cast<int>(date.year());
    result.month = static_cast<int>(static_cast<unsigned>(date.month()));
    result.day = static_cast<int>(static_cast<unsigned>(date.day()));
    result.hour = static_cast<int>(secondOfDay / 3600);
    result.minute = static_cast<int>(secondOfDay / 60 % 60);
    result.second = static_cast<int>(secondOfDay % 60);
    result.millisecond = static_cast<int>(time % kTicksPerSecond / kTicksPerMillisecond);
    return result;
}

std::optional<FileTime> SystemTimeToFileTime(const SystemTime& time) {
    using namespace std::chrono;
    if (time.year < 1601 || time.year > 30827 || time.month < 1 || time.month > 12 ||
        time.day < 1 || time.day > 31 || time.hour < 0 || time.hour > 23 || time.minute < 0 ||
        time.minute > 59 || time.second < 0 || time.second > 59 || time.millisecond < 0 ||
        time.millisecond > 999) {
        return std::nullopt;
    }
    const year_month_day date{year{time.year}, month{static_cast<unsigned>(time.month)},
                              day{static_cast<unsigned>(time.day)}};
    if (!date.ok()) {
        return std::nullopt;
    }
    const std::int64_t days = sys_days{date}.time_since_epoch().count() + kUnixEpochDays;
    const std::int64_t seconds =
        days * kSecondsPerDay + time.hour * 3600 + time.minute * 60 + time.second;
    return static_cast<FileTime>(seconds) * kTicksPerSecond +
           static_cast<FileTime>(time.millisecond) * kTicksPerMillisecond;
}

FileTime DosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime) {
    SystemTime time;
    time.year = 1980 + (dosDate >> 9);
    time.month = (dosDate >> 5) & 0x0F;
    time.day = dosDate & 0x1F;
    time.hour = dosTime >> 11;
    time.minute = (dosTime >> 5) & 0x3F;
    time.second = (dosTime & 0x1F) * 2;
    return SystemTimeToFileTime(time).value_or(0);
}

void FileTimeToDosDateTime(FileTime time, std::uint16_t& dosDate, std::uint16_t& dosTime) {
    SystemTime parts = FileTimeToSystemTime(time);
    // The words hold the years 1980 to 2107 only; anything outside is pinned to the nearest end.
    if (parts.year < 1980) {
        parts = SystemTime{1980, 1, 1, 0, 0, 0, 0};
    } else if (parts.year > 2107) {
        parts = SystemTime{2107, 12, 31, 23, 59, 58, 0};
    }
    dosDate = static_cast<std::uint16_t>((parts.year - 1980) << 9 | parts.month << 5 | parts.day);
    dosTime = static_cast<std::uint16_t>(parts.hour << 11 | parts.minute << 5 | parts.second / 2);
}

SystemTime GetLocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const FileTime utc = FileTimeFromUnix(now.tv_sec, static_cast<std::uint32_t>(now.tv_nsec));
    return FileTimeToSystemTime(FileTimeToLocalFileTime(utc));
}

}  // namespace zembrat::platform
