#include "platform/file_time.h"

#include <gtest/gtest.h>

#include <ctime>

#include "scoped_environment.h"

namespace zembrat::platform {
namespace {

constexpr FileTime kUnixEpoch = 116444736000000000ull;

TEST(FileTime, UnixAndCalendarForms) {
    EXPECT_EQ(FileTimeFromUnix(0), kUnixEpoch);
    EXPECT_EQ(FileTimeFromUnix(1, 500), kUnixEpoch + 10'000'000 + 5);
    EXPECT_EQ(UnixSecondsFromFileTime(kUnixEpoch - 1), -1);  // rounds toward the past
    EXPECT_EQ(FileTimeFromUnix(-20'000'000'000), 0u);        // before 1601

    EXPECT_EQ(FileTimeToSystemTime(0), (SystemTime{1601, 1, 1, 0, 0, 0, 0}));
    const SystemTime leapDay{2024, 2, 29, 23, 59, 58, 123};
    const auto leapDayTime = SystemTimeToFileTime(leapDay);
    ASSERT_TRUE(leapDayTime.has_value());
    EXPECT_EQ(UnixSecondsFromFileTime(*leapDayTime), 1709251198);
    EXPECT_EQ(FileTimeToSystemTime(*leapDayTime), leapDay);
}

TEST(FileTime, ImpossibleCalendarTimesAreRefused) {
    EXPECT_FALSE(SystemTimeToFileTime({2023, 2, 29, 0, 0, 0, 0}));
    EXPECT_FALSE(SystemTimeToFileTime({2024, 2, 30, 0, 0, 0, 0}));
    EXPECT_FALSE(SystemTimeToFileTime({2024, 4, 31, 0, 0, 0, 0}));
    EXPECT_FALSE(SystemTimeToFileTime({2024, 13, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(SystemTimeToFileTime({2024, 1, 1, 24, 0, 0, 0}));
    EXPECT_FALSE(SystemTimeToFileTime({2024, 1, 1, 0, 60, 0, 0}));
    EXPECT_FALSE(SystemTimeToFileTime({1600, 12, 31, 0, 0, 0, 0}));
    EXPECT_TRUE(SystemTimeToFileTime({1900, 2, 28, 0, 0, 0, 0}));
}

TEST(FileTime, DosDateAndTimeRoundTrip) {
    // 2019-07-14 13:45:30
    const std::uint16_t date = (2019 - 1980) << 9 | 7 << 5 | 14;
    const std::uint16_t time = 13 << 11 | 45 << 5 | 30 / 2;
    const FileTime converted = DosDateTimeToFileTime(date, time);
    EXPECT_EQ(FileTimeToSystemTime(converted), (SystemTime{2019, 7, 14, 13, 45, 30, 0}));
    std::uint16_t dateBack = 0;
    std::uint16_t timeBack = 0;
    FileTimeToDosDateTime(converted, dateBack, timeBack);
    EXPECT_EQ(dateBack, date);
    EXPECT_EQ(timeBack, time);

    // Odd seconds fall to the even second below.
    FileTimeToDosDateTime(*SystemTimeToFileTime({2019, 7, 14, 13, 45, 31, 900}), dateBack,
                          timeBack);
    EXPECT_EQ(timeBack, time);
    // Month 0 is no date.
    EXPECT_EQ(DosDateTimeToFileTime(0, 0), 0u);
    // Times the words cannot hold are pinned to their range.
    FileTimeToDosDateTime(0, dateBack, timeBack);
    EXPECT_EQ(dateBack, 1 << 5 | 1);
    EXPECT_EQ(timeBack, 0);
}

TEST(FileTime, LocalTimeUsesTheOffsetInForceAtThatInstant) {
    const FileTime winter = *SystemTimeToFileTime({2023, 1, 15, 12, 0, 0, 0});
    const FileTime summer = *SystemTimeToFileTime({2023, 7, 15, 12, 0, 0, 0});
    const FileTime hour = 3600ull * 10'000'000;
    {
        // Central European time, written out so that no zone files are needed.
        const zembrat::testing::ScopedEnvironment zone("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        tzset();
        EXPECT_EQ(FileTimeToLocalFileTime(winter), winter + hour);
        EXPECT_EQ(FileTimeToLocalFileTime(summer), summer + 2 * hour);
        EXPECT_EQ(LocalFileTimeToFileTime(summer + 2 * hour), summer);
        EXPECT_EQ(LocalFileTimeToFileTime(winter + hour), winter);
    }
    tzset();
}

}  // namespace
}  // namespace zembrat::platform
