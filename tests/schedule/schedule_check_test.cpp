#include "recorder/schedule/schedule_check.h"
#include "tests/schedule/time_zone.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace kelvo {
namespace {

using test::localTime;
using test::ScopedTimeZone;
using test::utcTime;

// Stands in for the recording controller: remembers when it was asked to start and stop.
struct FakeRecorder {
    bool recording = false;
    std::time_t now = 0; // the tick being run
    std::vector<std::time_t> starts;
    std::vector<std::time_t> stops;
    std::function<void()> duringStart;

    RecorderHooks hooks() {
        return {[this] { return recording; },
                [this] {
                    starts.push_back(now);
                    if (duringStart)
                        duringStart();
                    recording = true;
                },
                [this] {
                    stops.push_back(now);
                    recording = false;
                }};
    }
};

class ScheduleCheckTest : public ::testing::Test {
protected:
    // Ticks once a second over [from, to], as an undisturbed clock tick would.
    void runClock(std::time_t from, std::time_t to) {
        for (std::time_t t = from; t <= to; ++t)
            tickAt(t);
    }
    void tickAt(std::time_t t) {
        recorder.now = t;
        check.tick(t, schedule);
    }

    ScopedTimeZone zone{"America/New_York"};
    FakeRecorder recorder;
    ScheduleCheck check{recorder.hooks()};
    Schedule schedule; // 1:00:00 AM to 5:00:00 AM, every day
};

using Times = std::vector<std::time_t>;

// 7 June 2024 is a Friday, 8 June a Saturday.
constexpr int kFriday = 6, kSaturday = 7;

TEST_F(ScheduleCheckTest, StartsAtTheStartSecondOnlyOnce) {
    runClock(localTime(2024, 6, 7, 0, 59, 50), localTime(2024, 6, 7, 1, 0, 10));
    EXPECT_EQ(recorder.starts, Times{localTime(2024, 6, 7, 1, 0, 0)});
    EXPECT_TRUE(recorder.stops.empty());
}

TEST_F(ScheduleCheckTest, StartNeedsTodaysBoxAndNoRunningRecording) {
    recorder.recording = true;
    runClock(localTime(2024, 6, 7, 0, 59, 50), localTime(2024, 6, 7, 1, 0, 10));
    recorder.recording = false;
    schedule.weekdays[kSaturday - 1] = false;
    runClock(localTime(2024, 6, 8, 0, 59, 50), localTime(2024, 6, 8, 1, 0, 10));
    EXPECT_TRUE(recorder.starts.empty());
    EXPECT_TRUE(recorder.stops.empty());
}

TEST_F(ScheduleCheckTest, StopNeedsARunningRecordingButNoWeekday) {
    runClock(localTime(2024, 6, 7, 4, 59, 50), localTime(2024, 6, 7, 5, 0, 10));
    EXPECT_TRUE(recorder.stops.empty());

    schedule.weekdays = {};
    recorder.recording = true; // started by hand, perhaps paused: the flag is 1 either way
    runClock(localTime(2024, 6, 8, 0, 59, 50), localTime(2024, 6, 8, 5, 0, 10));
    EXPECT_TRUE(recorder.starts.empty());
    EXPECT_EQ(recorder.stops, Times{localTime(2024, 6, 8, 5, 0, 0)});
}

TEST_F(ScheduleCheckTest, RecordsFromFridayNightIntoSaturdayWithSaturdayUnchecked) {
    schedule.start = {23, 0, 0};
    schedule.stop = {1, 0, 0};
    schedule.weekdays = {};
    schedule.weekdays[kFriday - 1] = true;
    runClock(localTime(2024, 6, 7, 22, 59, 0), localTime(2024, 6, 8, 1, 1, 0));
    EXPECT_EQ(recorder.starts, Times{localTime(2024, 6, 7, 23, 0, 0)});
    EXPECT_EQ(recorder.stops, Times{localTime(2024, 6, 8, 1, 0, 0)});
}

TEST_F(ScheduleCheckTest, StartEqualToStopRecordsForADay) {
    schedule.stop = schedule.start;
    runClock(localTime(2024, 6, 7, 0, 59, 59), localTime(2024, 6, 8, 1, 0, 1));
    EXPECT_EQ(recorder.starts, Times{localTime(2024, 6, 7, 1, 0, 0)});
    EXPECT_EQ(recorder.stops, Times{localTime(2024, 6, 8, 1, 0, 0)});
}

TEST_F(ScheduleCheckTest, AStallAcrossTheStartTimeStillStarts) {
    tickAt(localTime(2024, 6, 7, 0, 59, 58));
    tickAt(localTime(2024, 6, 7, 1, 0, 3));
    EXPECT_EQ(recorder.starts, Times{localTime(2024, 6, 7, 1, 0, 3)});
}

TEST_F(ScheduleCheckTest, AStallPastTheStopTimeStartsNothing) {
    schedule.stop = {1, 0, 2};
    tickAt(localTime(2024, 6, 7, 0, 59, 58));
    tickAt(localTime(2024, 6, 7, 1, 0, 4));
    schedule.stop = {1, 0, 4}; // the show ends on the very second the late tick comes
    tickAt(localTime(2024, 6, 8, 0, 59, 58));
    tickAt(localTime(2024, 6, 8, 1, 0, 4));
    EXPECT_TRUE(recorder.starts.empty());
    EXPECT_TRUE(recorder.stops.empty());
}

TEST_F(ScheduleCheckTest, ReplayedSecondsSeeTheFlagTheirPredecessorsLeft) {
    // A recording started by hand stops at 1:00:00, and the show due at 1:00:02 starts.
    schedule.stop = {1, 0, 0};
    schedule.start = {1, 0, 2};
    recorder.recording = true;
    tickAt(localTime(2024, 6, 7, 0, 59, 58));
    tickAt(localTime(2024, 6, 7, 1, 0, 4));
    EXPECT_EQ(recorder.stops.size(), 1u);
    EXPECT_EQ(recorder.starts.size(), 1u);
    EXPECT_TRUE(recorder.recording);
}

TEST_F(ScheduleCheckTest, ReplayedSecondsKeepTheirOwnWeekday) {
    schedule.start = {23, 59, 59};
    schedule.stop = {3, 0, 0};
    schedule.weekdays = {};
    schedule.weekdays[kFriday - 1] = true;
    tickAt(localTime(2024, 6, 7, 23, 59, 57));
    tickAt(localTime(2024, 6, 8, 0, 0, 2));
    EXPECT_EQ(recorder.starts.size(), 1u);

    // The same stall a week later with only Saturday checked starts nothing.
    recorder.recording = false;
    schedule.weekdays = {};
    schedule.weekdays[kSaturday - 1] = true;
    tickAt(localTime(2024, 6, 14, 23, 59, 57));
    tickAt(localTime(2024, 6, 15, 0, 0, 2));
    EXPECT_EQ(recorder.starts.size(), 1u);
}

TEST_F(ScheduleCheckTest, AfterAWeekAsleepOnlyTheLastDayIsCaughtUp) {
    schedule.stop = schedule.start; // every day's show but the last has ended
    tickAt(localTime(2024, 6, 7, 0, 0, 0));
    tickAt(localTime(2024, 6, 14, 0, 30, 0));
    EXPECT_EQ(recorder.starts, Times{localTime(2024, 6, 14, 0, 30, 0)});
    EXPECT_TRUE(recorder.stops.empty());
}

TEST_F(ScheduleCheckTest, AClockSetBackIsTakenAsTheFirstTick) {
    tickAt(localTime(2024, 6, 7, 3, 0, 0));
    tickAt(localTime(2024, 6, 7, 0, 59, 58)); // nothing between is replayed
    EXPECT_TRUE(recorder.starts.empty());
    runClock(localTime(2024, 6, 7, 0, 59, 59), localTime(2024, 6, 7, 1, 0, 5));
    EXPECT_EQ(recorder.starts, Times{localTime(2024, 6, 7, 1, 0, 0)});

    tickAt(localTime(2024, 6, 1, 0, 0, 0)); // a week back
    EXPECT_EQ(recorder.starts.size(), 1u);
    EXPECT_TRUE(recorder.stops.empty());
}

TEST_F(ScheduleCheckTest, ATickFromInsideStartDoesNotHandleSecondsTwice) {
    // The start shows a modal message box, in which the clock keeps ticking with the flag
    // still 0; when the box closes, the flag becomes 1. The stop second passed meanwhile.
    schedule.stop = {1, 0, 3};
    recorder.duringStart = [this] {
        tickAt(localTime(2024, 6, 7, 1, 0, 2));
        tickAt(localTime(2024, 6, 7, 1, 0, 3));
    };
    tickAt(localTime(2024, 6, 7, 0, 59, 59));
    tickAt(localTime(2024, 6, 7, 1, 0, 1)); // late: starts for 1:00:00, still owns 1:00:01
    tickAt(localTime(2024, 6, 7, 1, 0, 4));
    EXPECT_EQ(recorder.starts.size(), 1u);
    EXPECT_TRUE(recorder.stops.empty());
    EXPECT_TRUE(recorder.recording);
}

// Clock changes. New York, 2024: the clocks go forward on 10 March at 2:00 EST (07:00 UTC)
// and back on 3 November at 2:00 EDT (06:00 UTC), so 1:00 to 1:59:59 happens twice that day.
class ClockChangeTest : public ScheduleCheckTest {};

TEST_F(ClockChangeTest, TheRepeatedHourStartsOnce) {
    schedule.start = {1, 30, 0};
    schedule.stop = {3, 0, 0};
    runClock(utcTime(2024, 11, 3, 4, 0, 0), utcTime(2024, 11, 3, 9, 0, 0));
    EXPECT_EQ(recorder.starts, Times{utcTime(2024, 11, 3, 5, 30, 0)});
    EXPECT_EQ(recorder.stops, Times{utcTime(2024, 11, 3, 8, 0, 0)});
}

TEST_F(ClockChangeTest, TheRepeatedHourStopsOnce) {
    schedule.start = {0, 0, 0};
    schedule.stop = {1, 30, 0};
    recorder.recording = true;
    runClock(utcTime(2024, 11, 3, 5, 0, 0), utcTime(2024, 11, 3, 5, 45, 0));
    recorder.recording = true; // started again by hand
    runClock(utcTime(2024, 11, 3, 5, 45, 1), utcTime(2024, 11, 3, 7, 0, 0));
    EXPECT_EQ(recorder.stops, Times{utcTime(2024, 11, 3, 5, 30, 0)});
    EXPECT_TRUE(recorder.recording);
}

TEST_F(ClockChangeTest, AStallAcrossTheClocksGoingBackStillHandlesItsSeconds) {
    schedule.start = {1, 59, 59};
    schedule.stop = {4, 0, 0};
    tickAt(utcTime(2024, 11, 3, 5, 59, 57)); // 1:59:57 EDT
    tickAt(utcTime(2024, 11, 3, 6, 0, 3));   // 1:00:03 EST
    EXPECT_EQ(recorder.starts, Times{utcTime(2024, 11, 3, 6, 0, 3)});
    runClock(utcTime(2024, 11, 3, 6, 0, 4), utcTime(2024, 11, 3, 7, 0, 0));
    EXPECT_EQ(recorder.starts.size(), 1u);
}

TEST_F(ClockChangeTest, AStartInTheMissingHourHappensWhenTheClockArrivesAtThree) {
    schedule.start = {2, 30, 0};
    schedule.stop = {4, 0, 0};
    runClock(utcTime(2024, 3, 10, 6, 0, 0), utcTime(2024, 3, 10, 8, 30, 0));
    EXPECT_EQ(recorder.starts, Times{utcTime(2024, 3, 10, 7, 0, 0)});
    EXPECT_EQ(recorder.stops, Times{utcTime(2024, 3, 10, 8, 0, 0)});
}

TEST_F(ClockChangeTest, AShowWhollyInTheMissingHourIsNotRecorded) {
    schedule.start = {2, 15, 0};
    schedule.stop = {2, 45, 0};
    runClock(utcTime(2024, 3, 10, 6, 0, 0), utcTime(2024, 3, 10, 8, 0, 0));
    EXPECT_TRUE(recorder.starts.empty());
    EXPECT_TRUE(recorder.stops.empty());
}

TEST_F(ClockChangeTest, AStopInTheMissingHourHappensWhenTheClockArrivesAtThree) {
    schedule.start = {1, 0, 0};
    schedule.stop = {2, 30, 0};
    runClock(utcTime(2024, 3, 10, 5, 59, 0), utcTime(2024, 3, 10, 7, 30, 0));
    EXPECT_EQ(recorder.starts, Times{utcTime(2024, 3, 10, 6, 0, 0)});
    EXPECT_EQ(recorder.stops, Times{utcTime(2024, 3, 10, 7, 0, 0)});
}

TEST_F(ClockChangeTest, TheMissingHourKeepsItsWeekdayInBerlin) {
    // Berlin goes from 2:00 CET to 3:00 CEST on Sunday 31 March 2024, at 01:00 UTC.
    ScopedTimeZone berlin{"Europe/Berlin"};
    schedule.start = {2, 30, 0};
    schedule.stop = {6, 0, 0};
    schedule.weekdays = {};
    schedule.weekdays[0] = true; // Sunday
    runClock(utcTime(2024, 3, 31, 0, 0, 0), utcTime(2024, 3, 31, 2, 0, 0));
    EXPECT_EQ(recorder.starts, Times{utcTime(2024, 3, 31, 1, 0, 0)});
}

} // namespace
} // namespace kelvo
