// One show's occurrences against everything the clock can do: late ticks, suspends, steps,
// daylight-saving changes, restarts. The show is the current one, in New York unless a case
// gives it a zone; 7 June 2024 is a Friday. The clocks go forward on 10 March at 2:00 EST
// (07:00 UTC) and back on 3 November at 2:00 EDT (06:00 UTC).
#include "recorder/schedule/scheduler.h"
#include "tests/schedule/time_zone.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kelvo {
namespace {

using test::at;

struct Recorder : ScheduledRecorder {
    std::string recording;
    std::time_t now = 0;
    std::vector<std::string> log; // "MM-DD hh:mm:ss what", local time

    void note(const std::string& what) {
        char when[32];
        std::tm local{};
        localtime_r(&now, &local);
        std::strftime(when, sizeof when, "%m-%d %H:%M:%S ", &local);
        log.push_back(when + what);
    }
    std::string recordingShow() override { return recording; }
    bool monitoring() override { return false; }
    bool switchTo(const std::string&) override { return true; }
    void startRecording(const ScheduledStart& how) override {
        recording = "A";
        note(how.notice.empty() ? "start" : how.notice);
    }
    void stopRecording() override {
        recording.clear();
        note("stop");
    }
    void notRecorded(const std::string& message) override { note(message); }
};

// The ticks of one run of the program. `to` empty: one tick. The clock since boot follows the
// wall clock, except across a suspend (`slept`: the machine was not awake) or a step of the
// wall clock (`stepped`: no time passed).
struct Ticks {
    const char* from;
    const char* to = nullptr;
    bool byHand = false, slept = false, stepped = false;
    bool restart = false; // the program leaves before these ticks and starts again
};

struct Case {
    const char* what;
    Schedule schedule;
    std::vector<Ticks> ticks;
    std::vector<std::string> expected;
};

Schedule weekly(TimeOfDay start, TimeOfDay stop, const char* days, std::string zone = {}) {
    Schedule s{start, stop, {}, std::move(zone)};
    for (int day = 0; day < 7; ++day)
        s.weekdays[day] = days[day] != '.';
    return s;
}

const Schedule kOneToFive = weekly({1, 0, 0}, {5, 0, 0}, "SMTWTFS");
const Schedule kSixToSeven = weekly({18, 0, 0}, {19, 0, 0}, "SMTWTFS");

// clang-format off
const Case kCases[] = {
    {"starts at the start second, once", kOneToFive,
     {{"06-07 00:59:50", "06-07 01:00:10"}}, {"06-07 01:00:00 start"}},
    {"not on an unchecked weekday", weekly({1, 0, 0}, {5, 0, 0}, "SMTWTF."),
     {{"06-08 00:59:50", "06-08 01:00:10"}}, {}},
    {"a recording by hand goes on, and any stop time ends it, weekday or not",
     weekly({1, 0, 0}, {5, 0, 0}, "......."),
     {{"06-07 00:59:50", "06-07 05:00:10", true}}, {"06-07 05:00:00 stop"}},
    {"Friday night into Saturday, Saturday unchecked", weekly({23, 0, 0}, {1, 0, 0}, ".....F."),
     {{"06-07 22:59:00", "06-08 01:01:00"}}, {"06-07 23:00:00 start", "06-08 01:00:00 stop"}},
    {"start equal to stop records a day at a time", weekly({1, 0, 0}, {1, 0, 0}, "SMTWTFS"),
     {{"06-07 00:59:59", "06-08 01:00:01"}},
     {"06-07 01:00:00 start", "06-08 01:00:00 stop", "06-08 01:00:00 start"}},
    {"a 5-second stall across the start starts, untold", kOneToFive,
     {{"06-07 00:59:58"}, {"06-07 01:00:03"}}, {"06-07 01:00:03 start"}},
    {"a stall past a short show records nothing", weekly({1, 0, 0}, {1, 0, 2}, "SMTWTFS"),
     {{"06-07 00:59:58"}, {"06-07 01:00:04"}},
     {"06-07 01:00:04 A was not recorded: KelvoRecorder was busy from 00:59 to 01:00"}},
    {"the stop comes before a start at the same catch-up", weekly({1, 0, 2}, {1, 0, 0}, "SMTWTFS"),
     {{"06-07 00:59:58", nullptr, true}, {"06-07 01:00:04"}},
     {"06-07 01:00:04 stop", "06-07 01:00:04 start"}},
    {"a start keeps its own weekday", weekly({23, 59, 59}, {3, 0, 0}, "......S"),
     {{"06-14 23:59:57"}, {"06-15 00:00:02"}}, {}},
    {"after a week asleep only the last day counts", weekly({1, 0, 0}, {1, 0, 0}, "SMTWTFS"),
     {{"06-07 00:00:00"}, {"06-14 00:30:00", nullptr, false, true}},
     {"06-07 00:00:00 Recording A started 23 h late: KelvoRecorder was not running at 01:00",
      "06-14 00:30:00 stop",
      "06-14 00:30:00 Recording A started 23 h 30 min late: the computer was asleep at 01:00"}},
    {"a clock set back never records an occurrence again", kOneToFive,
     {{"06-07 00:59:58", "06-07 01:10:00"}, {"06-07 00:59:00", "06-07 01:01:00", false, false, true},
      {"06-01 00:00:00", nullptr, false, false, true}},
     {"06-07 01:00:00 start"}},
    {"... nor after a restart", kSixToSeven,
     {{"06-07 17:59:58", "06-07 19:00:01"},
      {"06-07 17:59:00", "06-07 18:01:00", false, false, true, true}},
     {"06-07 18:00:00 start", "06-07 19:00:00 stop"}},
    {"a step forward over a whole show is told", weekly({18, 10, 0}, {19, 0, 0}, "SMTWTFS"),
     {{"06-07 18:01:58", "06-07 18:02:00"}, {"06-07 19:30:00", nullptr, false, false, true}},
     {"06-07 19:30:00 A was not recorded: the clock jumped from 18:02 to 19:30"}},
    {"a step into a show starts it", kSixToSeven,
     {{"06-07 17:50:00"}, {"06-07 18:10:00", nullptr, false, false, true}},
     {"06-07 18:10:00 Recording A started 10 min late: the clock jumped from 17:50 to 18:10"}},
    {"a suspend across the stop stops at wake-up", kSixToSeven,
     {{"06-07 17:59:59", "06-07 18:30:00"}, {"06-07 19:10:00", nullptr, false, true}},
     {"06-07 18:00:00 start", "06-07 19:10:00 stop"}},
    {"under way at start-up: recorded at once, late", kSixToSeven,
     {{"06-07 18:05:00"}},
     {"06-07 18:05:00 Recording A started 5 min late: KelvoRecorder was not running at 18:00"}},
    {"... across midnight", weekly({23, 0, 0}, {1, 0, 0}, ".....F."),
     {{"06-08 00:30:00"}},
     {"06-08 00:30:00 Recording A started 1 h 30 min late: KelvoRecorder was not running at 23:00"}},
    {"... but not with less than a minute left", kSixToSeven,
     {{"06-07 18:59:01", "06-07 19:00:01"}}, {}},
    {"a restart mid-show continues the occurrence", kSixToSeven,
     {{"06-07 17:59:59", "06-07 18:20:00"}, {"06-07 18:25:00", "06-07 19:00:00", false, false, false, true}},
     {"06-07 18:00:00 start", "06-07 18:25:00 Recording A continued, 5 min lost: KelvoRecorder "
      "was not running from 18:20 to 18:25", "06-07 19:00:00 stop"}},
    {"the repeated hour starts once", weekly({1, 30, 0}, {3, 0, 0}, "SMTWTFS"),
     {{"11-03 04:00:00 Z", "11-03 09:00:00 Z"}}, {"11-03 01:30:00 start", "11-03 03:00:00 stop"}},
    {"... and stops once", weekly({0, 0, 0}, {1, 30, 0}, "SMTWTFS"),
     {{"11-03 03:59:59 Z", "11-03 07:00:00 Z"}}, {"11-03 00:00:00 start", "11-03 01:30:00 stop"}},
    {"a start in the missing hour comes at 3:00", weekly({2, 30, 0}, {4, 0, 0}, "SMTWTFS"),
     {{"03-10 06:00:00 Z", "03-10 08:30:00 Z"}}, {"03-10 03:00:00 start", "03-10 04:00:00 stop"}},
    {"a show wholly in the missing hour has no time", weekly({2, 15, 0}, {2, 45, 0}, "SMTWTFS"),
     {{"03-10 06:00:00 Z", "03-10 08:00:00 Z"}}, {}},
    {"the broadcaster's zone: Sydney's Saturday 8:00 is New York's Friday 18:00 in June",
     weekly({8, 0, 0}, {9, 0, 0}, "......S", "Australia/Sydney"),
     {{"06-07 17:59:59", "06-07 19:00:00"}}, {"06-07 18:00:00 start", "06-07 19:00:00 stop"}},
    {"... and its weekday is Sydney's", weekly({8, 0, 0}, {9, 0, 0}, ".....F.", "Australia/Sydney"),
     {{"06-07 17:59:59", "06-07 19:00:00"}}, {}},
    {"... and its summer time: Sydney's clocks go forward on 6 October",
     weekly({20, 0, 0}, {21, 0, 0}, "SMTWTFS", "Australia/Sydney"),
     {{"10-05 05:59:59", "10-05 06:00:00"}, {"10-06 04:59:59", "10-06 05:00:00"}},
     {"10-05 06:00:00 start", "10-06 04:59:59 stop", "10-06 05:00:00 start"}},
};
// clang-format on

TEST(ScheduleRules, EachOccurrenceRecordsAtMostOnceWhateverTheClockDoes) {
    test::useTimeZone("America/New_York");
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        const QTemporaryDir dir;
        const std::string logFile = dir.filePath(QStringLiteral("occurrences")).toStdString();
        Recorder r;
        auto scheduler = std::make_unique<Scheduler>(r, logFile);
        std::int64_t boot = 0, awake = 0;
        std::time_t previous = 0;
        for (const Ticks& ticks : c.ticks) {
            if (ticks.restart) {
                scheduler->leaving(previous);
                r.recording.clear();
                scheduler = std::make_unique<Scheduler>(r, logFile);
            }
            if (ticks.byHand) {
                r.now = at(ticks.from);
                r.recording = "A";
            }
            for (std::time_t t = at(ticks.from); t <= at(ticks.to ? ticks.to : ticks.from); ++t) {
                const std::int64_t passed =
                    previous == 0 ? 0 : (t == at(ticks.from) && ticks.stepped ? 1 : t - previous);
                boot += passed * 1000;
                awake += (t == at(ticks.from) && ticks.slept ? 1 : passed) * 1000;
                previous = t;
                r.now = t;
                scheduler->setCurrentShow("A", c.schedule);
                scheduler->tick({t, boot, awake});
            }
        }
        EXPECT_EQ(r.log, c.expected);
    }
}

TEST(ScheduleRules, AShowWithItsOwnZoneIsShownInBothClocks) {
    test::useTimeZone("Europe/Berlin");
    const std::time_t monday = at("06-03 12:00:00");
    struct Zoned {
        Schedule schedule;
        std::string expected;
    } cases[] = {
        {weekly({20, 0, 0}, {21, 0, 0}, ".M.....", "America/New_York"),
         "Next: Jazz Hour, Tue 02:00 (Mon 20:00 in New York)"},
        {weekly({20, 0, 0}, {21, 0, 0}, ".M.....", "Europe/Paris"), "Next: Jazz Hour, Mon 20:00"},
        {weekly({20, 0, 0}, {21, 0, 0}, ".M.....", "Nowhere/Atlantis"),
         "Next: Jazz Hour, Mon 20:00"},
    };
    for (const Zoned& c : cases) {
        const auto next = nextStart(monday, {{"Jazz Hour", c.schedule}});
        ASSERT_TRUE(next);
        EXPECT_EQ(nextStartText(*next), c.expected);
    }
}

TEST(OccurrenceLog, WhatIsRecordedSurvivesAReopenAndOldEntriesGo) {
    const QTemporaryDir dir;
    const std::string file = dir.filePath(QStringLiteral("occurrences")).toStdString();
    const std::string odd = "Mo\xe9 Show \n% 100";
    {
        OccurrenceLog log(file);
        log.set(odd, "2027-07-06 18:00:00", {OccurrenceLog::State::Started, 5000, 4000}, 1000);
        log.set("Old", "2027-06-01 18:00:00", {OccurrenceLog::State::Done, 2000, 0}, 1000);
        log.set("New", "2027-07-06 20:00:00", {OccurrenceLog::State::Done, 9000, 0},
                2000 + 8 * 86400 + 1);
    }
    const OccurrenceLog log(file);
    const auto entry = log.find(odd, "2027-07-06 18:00:00");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->state, OccurrenceLog::State::Started);
    EXPECT_EQ(entry->leftAt, 4000);
    EXPECT_FALSE(log.find("Old", "2027-06-01 18:00:00"));
    EXPECT_TRUE(log.find("New", "2027-07-06 20:00:00"));
}

} // namespace
} // namespace kelvo
