#include "recorder/schedule/schedule_check.h"
#include "tests/schedule/time_zone.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace kelvo {
namespace {

using test::at;
using Times = std::vector<std::time_t>;

// Stands in for the recording controller: remembers the ticks that started and stopped it.
struct Recorder {
    bool recording = false;
    std::time_t now = 0;
    Times starts, stops;
    std::function<void()> duringStart;
    ScheduleCheck check{{[this] { return recording; },
                         [this] {
                             starts.push_back(now);
                             if (duringStart)
                                 duringStart();
                             recording = true;
                         },
                         [this] {
                             stops.push_back(now);
                             recording = false;
                         }}};
    Schedule schedule;

    void tick(const char* time) {
        now = at(time);
        check.tick(now, schedule);
    }
};

struct Ticks {
    const char* from;
    const char* to = nullptr; // ticks every second from `from` to here; none: one tick
    bool startedByHand = false;
};

struct Case {
    const char* what;
    TimeOfDay start, stop;
    const char* weekdays; // Sunday to Saturday, '.' unchecked
    std::vector<Ticks> ticks;
    std::vector<const char*> starts, stops;
};

// In New York; 7 June 2024 is a Friday. The clocks go forward on 10 March at 2:00 EST
// (07:00 UTC) and back on 3 November at 2:00 EDT (06:00 UTC).
// clang-format off
const Case cases[] = {
    {"starts at the start second, once", {1, 0, 0}, {5, 0, 0}, "SMTWTFS",
     {{"06-07 00:59:50", "06-07 01:00:10"}}, {"06-07 01:00:00"}, {}},
    {"not on an unchecked weekday", {1, 0, 0}, {5, 0, 0}, "SMTWTF.",
     {{"06-08 00:59:50", "06-08 01:00:10"}}, {}, {}},
    {"not while already recording", {1, 0, 0}, {5, 0, 0}, "SMTWTFS",
     {{"06-07 00:59:50", "06-07 01:00:10", true}}, {}, {}},
    {"nothing to stop when idle", {1, 0, 0}, {5, 0, 0}, "SMTWTFS",
     {{"06-07 04:59:50", "06-07 05:00:10"}}, {}, {}},
    {"a recording, paused or not, stops", {1, 0, 0}, {5, 0, 0}, "SMTWTFS",
     {{"06-07 04:59:50", "06-07 05:00:10", true}}, {}, {"06-07 05:00:00"}},
    {"the stop needs no weekday", {1, 0, 0}, {5, 0, 0}, ".......",
     {{"06-08 00:59:50", "06-08 05:00:10", true}}, {}, {"06-08 05:00:00"}},
    {"Friday night into Saturday, Saturday unchecked", {23, 0, 0}, {1, 0, 0}, ".....F.",
     {{"06-07 22:59:00", "06-08 01:01:00"}}, {"06-07 23:00:00"}, {"06-08 01:00:00"}},
    {"start equal to stop records for a day", {1, 0, 0}, {1, 0, 0}, "SMTWTFS",
     {{"06-07 00:59:59", "06-08 01:00:01"}}, {"06-07 01:00:00"}, {"06-08 01:00:00"}},
    {"a 5-second stall across the start still starts", {1, 0, 0}, {5, 0, 0}, "SMTWTFS",
     {{"06-07 00:59:58"}, {"06-07 01:00:03"}}, {"06-07 01:00:03"}, {}},
    {"a stall past the stop starts nothing", {1, 0, 0}, {1, 0, 2}, "SMTWTFS",
     {{"06-07 00:59:58"}, {"06-07 01:00:04"}}, {}, {}},
    {"a stall up to the stop starts nothing", {1, 0, 0}, {1, 0, 4}, "SMTWTFS",
     {{"06-07 00:59:58"}, {"06-07 01:00:04"}}, {}, {}},
    {"replayed seconds see the flag left before them", {1, 0, 2}, {1, 0, 0}, "SMTWTFS",
     {{"06-07 00:59:58", nullptr, true}, {"06-07 01:00:04"}},
     {"06-07 01:00:04"}, {"06-07 01:00:04"}},
    {"replayed seconds keep their weekday", {23, 59, 59}, {3, 0, 0}, ".....F.",
     {{"06-07 23:59:57"}, {"06-08 00:00:02"}}, {"06-08 00:00:02"}, {}},
    {"... and so start nothing with only Saturday checked", {23, 59, 59}, {3, 0, 0}, "......S",
     {{"06-14 23:59:57"}, {"06-15 00:00:02"}}, {}, {}},
    {"after a week asleep only the last day counts", {1, 0, 0}, {1, 0, 0}, "SMTWTFS",
     {{"06-07 00:00:00"}, {"06-14 00:30:00"}}, {"06-14 00:30:00"}, {}},
    {"a clock set back replays nothing", {1, 0, 0}, {5, 0, 0}, "SMTWTFS",
     {{"06-07 03:00:00"}, {"06-07 00:59:58", "06-07 01:00:05"}, {"06-01 00:00:00"}},
     {"06-07 01:00:00"}, {}},
    {"the repeated hour starts once", {1, 30, 0}, {3, 0, 0}, "SMTWTFS",
     {{"11-03 04:00:00 Z", "11-03 09:00:00 Z"}}, {"11-03 05:30:00 Z"}, {"11-03 08:00:00 Z"}},
    {"the repeated hour stops once", {0, 0, 0}, {1, 30, 0}, "SMTWTFS",
     {{"11-03 05:00:00 Z", "11-03 05:45:00 Z", true},
      {"11-03 05:45:01 Z", "11-03 07:00:00 Z", true}}, {}, {"11-03 05:30:00 Z"}},
    {"a stall across the clocks going back", {1, 59, 59}, {4, 0, 0}, "SMTWTFS",
     {{"11-03 05:59:57 Z"}, {"11-03 06:00:03 Z", "11-03 07:00:00 Z"}}, {"11-03 06:00:03 Z"}, {}},
    {"a start in the missing hour comes at 3:00", {2, 30, 0}, {4, 0, 0}, "SMTWTFS",
     {{"03-10 06:00:00 Z", "03-10 08:30:00 Z"}}, {"03-10 07:00:00 Z"}, {"03-10 08:00:00 Z"}},
    {"a show wholly in the missing hour is not recorded", {2, 15, 0}, {2, 45, 0}, "SMTWTFS",
     {{"03-10 06:00:00 Z", "03-10 08:00:00 Z"}}, {}, {}},
    {"a stop in the missing hour comes at 3:00", {1, 0, 0}, {2, 30, 0}, "SMTWTFS",
     {{"03-10 05:59:00 Z", "03-10 07:30:00 Z"}}, {"03-10 06:00:00 Z"}, {"03-10 07:00:00 Z"}},
};
// clang-format on

Times times(const std::vector<const char*>& texts) {
    Times result;
    for (const char* text : texts) {
        result.push_back(at(text));
    }
    return result;
}

TEST(ScheduleCheck, StartsAndStopsAtTheirSecondsWhateverTheClockDoes) {
    test::useTimeZone("America/New_York");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder r;
        r.schedule = {c.start, c.stop, {}};
        for (int day = 0; day < 7; ++day) {
            r.schedule.weekdays[day] = c.weekdays[day] != '.';
        }
        for (const Ticks& ticks : c.ticks) {
            r.recording = r.recording || ticks.startedByHand;
            for (std::time_t t = at(ticks.from); t <= at(ticks.to ? ticks.to : ticks.from); ++t) {
                r.now = t;
                r.check.tick(t, r.schedule);
            }
        }
        EXPECT_EQ(r.starts, times(c.starts));
        EXPECT_EQ(r.stops, times(c.stops));
    }
}

TEST(ScheduleCheck, ATickFromInsideStartDoesNotHandleSecondsTwice) {
    // The start shows a modal message box, in which the clock keeps ticking with the flag
    // still 0; when the box closes, the flag becomes 1. The stop second passed meanwhile.
    test::useTimeZone("America/New_York");
    Recorder r;
    r.schedule.stop = {1, 0, 3};
    r.duringStart = [&r] {
        r.tick("06-07 01:00:02");
        r.tick("06-07 01:00:03");
    };
    r.tick("06-07 00:59:59");
    r.tick("06-07 01:00:01"); // late: starts for 1:00:00, still owns 1:00:01
    r.tick("06-07 01:00:04");
    EXPECT_EQ(r.starts.size(), 1u);
    EXPECT_TRUE(r.stops.empty());
    EXPECT_TRUE(r.recording);
}

} // namespace
} // namespace kelvo
