#include "recorder/schedule/wall_clock.h"
#include "tests/schedule/time_zone.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

TEST(WallClock, TimeOfDayAndWeekdayAgreeWithTheCLibraryAllYearRound) {
    for (const char* zone : {"America/New_York", "Europe/Berlin", "Australia/Lord_Howe", "UTC"}) {
        test::ScopedTimeZone scoped{zone};
        // Every 3:17:13 h through two years, so that every hour and weekday comes up.
        for (std::time_t t = test::utcTime(2023, 1, 1, 0, 0, 0);
             t < test::utcTime(2025, 1, 1, 0, 0, 0); t += 11833) {
            std::tm local{};
            ASSERT_NE(localtime_r(&t, &local), nullptr);
            const WallSecond w = wallSecond(t).value();
            ASSERT_EQ(secondOfDay(w), (local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec)
                << zone << " " << t;
            ASSERT_EQ(weekdayNumber(w), local.tm_wday + 1) << zone << " " << t;
        }
    }
}

} // namespace
} // namespace kelvo
