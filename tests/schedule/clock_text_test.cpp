#include "recorder/schedule/clock_text.h"
#include "tests/schedule/time_zone.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

std::tm timeOfDay(int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return tm;
}

TEST(ClockText, UsesTheTwelveHourClockWithoutALeadingZero) {
    EXPECT_EQ(clockText(timeOfDay(0, 0, 0)), "12:00:00 AM");
    EXPECT_EQ(clockText(timeOfDay(1, 0, 0)), "1:00:00 AM");
    EXPECT_EQ(clockText(timeOfDay(11, 59, 59)), "11:59:59 AM");
    EXPECT_EQ(clockText(timeOfDay(12, 0, 0)), "12:00:00 PM");
    EXPECT_EQ(clockText(timeOfDay(13, 7, 9)), "1:07:09 PM");
    EXPECT_EQ(clockText(timeOfDay(21, 5, 3)), "9:05:03 PM");
    EXPECT_EQ(clockText(timeOfDay(23, 59, 59)), "11:59:59 PM");
}

TEST(ClockText, LabelIsOneBlankAndTheLocalTimeAtMidnightAndNoon) {
    test::ScopedTimeZone zone{"Europe/Berlin"};
    EXPECT_EQ(clockLabelText(test::localTime(2024, 6, 7, 0, 0, 0)), " 12:00:00 AM");
    EXPECT_EQ(clockLabelText(test::localTime(2024, 6, 7, 12, 0, 0)), " 12:00:00 PM");
    // 22:00 UTC is midnight in Berlin's summer.
    EXPECT_EQ(clockLabelText(test::utcTime(2024, 6, 6, 22, 0, 0)), " 12:00:00 AM");
}

} // namespace
} // namespace kelvo
