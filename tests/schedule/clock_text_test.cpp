#include "recorder/schedule/clock_text.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

namespace kelvo {
namespace {

TEST(ClockText, IsOneBlankAndTheTimeOnTheTwelveHourClock) {
    const std::array<std::tuple<int, int, int, const char*>, 7> times{{
        {0, 0, 0, " 12:00:00 AM"},
        {1, 0, 0, " 1:00:00 AM"},
        {9, 5, 3, " 9:05:03 AM"},
        {11, 59, 59, " 11:59:59 AM"},
        {12, 0, 0, " 12:00:00 PM"},
        {13, 7, 9, " 1:07:09 PM"},
        {23, 59, 59, " 11:59:59 PM"},
    }};
    for (const auto& [hour, minute, second, text] : times) {
        EXPECT_EQ(clockLabelText(hour, minute, second), text) << hour << ':' << minute;
    }
}

} // namespace
} // namespace kelvo
