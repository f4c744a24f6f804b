#include "recorder/schedule/clock_text.h"
#include "tests/schedule/time_zone.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

TEST(ClockText, IsOneBlankAndTheLocalTimeOnTheTwelveHourClock) {
    test::useTimeZone("Europe/Berlin");
    const std::pair<const char*, const char*> times[] = {
        {"06-07 00:00:00", " 12:00:00 AM"},  {"06-07 01:00:00", " 1:00:00 AM"},
        {"06-07 11:59:59", " 11:59:59 AM"},  {"06-07 12:00:00", " 12:00:00 PM"},
        {"06-07 13:07:09", " 1:07:09 PM"},   {"06-07 23:59:59", " 11:59:59 PM"},
        {"06-06 22:00:00 Z", " 12:00:00 AM"}}; // midnight of Berlin's summer time
    for (auto [time, text] : times) {
        EXPECT_EQ(clockLabelText(test::at(time)), text) << time;
    }
}

} // namespace
} // namespace kelvo
