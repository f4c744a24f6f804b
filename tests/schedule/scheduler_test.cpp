#include "recorder/schedule/scheduler.h"
#include "tests/schedule/time_zone.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kelvo {
namespace {

using test::at;

// The window around the scheduler: it feeds the current show's schedule (as its file holds
// it) before each tick, as the window feeds its controls. Every action lands in `log` as
// "MM-DD hh:mm:ss what".
struct Window : ScheduledRecorder {
    std::map<std::string, Schedule> files;
    std::string current = "A";
    std::string recording; // the recording's show; empty: idle
    bool monitors = false;
    bool saveFails = false;
    std::function<void()> duringSwitch;
    std::time_t now = 0;
    std::int64_t untilStop = 0;
    std::vector<std::string> log;
    Scheduler scheduler;

    void note(const std::string& what) {
        char when[32];
        std::tm local{};
        localtime_r(&now, &local);
        std::strftime(when, sizeof when, "%m-%d %H:%M:%S ", &local);
        log.push_back(when + what);
    }
    void start() {
        if (recording.empty()) {
            monitors = false;
            recording = current;
            note("start " + current);
        }
    }
    std::string recordingShow() override { return recording; }
    bool monitoring() override { return monitors; }
    bool switchTo(const std::string& show) override {
        if (duringSwitch)
            duringSwitch();
        if (saveFails)
            return false;
        note("load " + show);
        current = show;
        return true;
    }
    void startRecording(const ScheduledStart& how) override {
        start();
        if (!how.notice.empty())
            note(how.notice);
        untilStop = how.secondsUntilStop;
    }
    void stopRecording() override {
        if (!recording.empty())
            note("stop " + std::exchange(recording, {}));
    }
    void notRecorded(const std::string& message) override { note(message); }

    explicit Window(bool everyShow = true, std::filesystem::path occurrences = {})
        : scheduler(*this, std::move(occurrences)) {
        scheduler.setEveryShow(everyShow);
    }
    void setFiles(std::map<std::string, Schedule> shows) {
        files = std::move(shows);
        scheduler.setShows(files);
    }
    void tickAt(std::time_t t) {
        now = t;
        scheduler.setCurrentShow(current, files.at(current));
        scheduler.tick(t);
    }
    void run(const char* from, const char* to) {
        for (std::time_t t = at(from); t <= at(to); ++t)
            tickAt(t);
    }
};

Schedule weekly(TimeOfDay start, TimeOfDay stop, const char* days) {
    Schedule s{start, stop, {}, {}};
    for (int day = 0; day < 7; ++day)
        s.weekdays[day] = days[day] != '.';
    return s;
}

// 7 June 2024 is a Friday, in New York.
const std::map<std::string, Schedule> kThreeShows{
    {"A", weekly({6, 0, 0}, {7, 0, 0}, ".MTWTF.")},
    {"B", weekly({10, 0, 0}, {11, 0, 0}, "......S")},
    {"C", weekly({18, 0, 0}, {18, 30, 0}, ".....F.")},
};

class EveryShow : public ::testing::Test {
protected:
    void SetUp() override {
        test::useTimeZone("America/New_York");
        w.setFiles(kThreeShows);
    }
    Window w;
};

TEST_F(EveryShow, EachShowIsLoadedRecordedAndStoppedOnItsOwnDaysAndTimes) {
    w.run("06-07 05:59:58", "06-08 11:00:02");
    const std::vector<std::string> expected{
        "06-07 06:00:00 start A", "06-07 07:00:00 stop A", "06-07 18:00:00 load C",
        "06-07 18:00:00 start C", "06-07 18:30:00 stop C", "06-08 10:00:00 load B",
        "06-08 10:00:00 start B", "06-08 11:00:00 stop B",
    };
    EXPECT_EQ(w.log, expected);
}

TEST_F(EveryShow, AnOverlappingStartIsRefusedAndToldWithoutCuttingWhatRuns) {
    struct Case {
        const char* what;
        bool monitoring;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"A recording by hand through C's whole slot",
         false,
         {"06-07 17:59:00 start A", "06-07 18:00:00 C not recorded: A was recording"}},
        {"monitoring holds the device", true, {"06-07 18:00:00 C not recorded: A was monitoring"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Window window;
        window.setFiles(kThreeShows);
        window.run("06-07 17:58:00", "06-07 17:58:59");
        window.now = at("06-07 17:59:00");
        window.monitors = c.monitoring;
        if (!c.monitoring)
            window.start();
        // C's stop at 18:30 is not A's: A keeps recording.
        window.run("06-07 17:59:00", "06-07 18:31:00");
        EXPECT_EQ(window.log, c.expected);
        EXPECT_EQ(window.current, "A");
    }
}

TEST_F(EveryShow, TwoStartsInOneSecondRecordTheFirstAndRefuseTheSecond) {
    w.setFiles({{"A", weekly({6, 0, 0}, {7, 0, 0}, ".......")},
                {"B", weekly({9, 0, 0}, {9, 10, 0}, "SMTWTFS")},
                {"C", weekly({9, 0, 0}, {9, 20, 0}, "SMTWTFS")}});
    w.run("06-07 08:59:59", "06-07 09:20:00");
    const std::vector<std::string> expected{"06-07 09:00:00 load B", "06-07 09:00:00 start B",
                                            "06-07 09:00:00 C not recorded: B was recording",
                                            "06-07 09:10:00 stop B"};
    EXPECT_EQ(w.log, expected);
}

TEST_F(EveryShow, AShowThatCannotBeLeftIsNotRecordedUnderItsSettings) {
    w.saveFails = true;
    w.run("06-07 17:59:59", "06-07 18:00:01");
    const std::vector<std::string> expected{"06-07 18:00:00 C not recorded: A could not be saved"};
    EXPECT_EQ(w.log, expected);
}

TEST_F(EveryShow, ItsStopEndsOnlyItsOwnRecordingWhereverTheWindowHasMovedOn) {
    w.run("06-07 17:59:59", "06-07 18:00:00");
    w.current = "B"; // the user looks at another show meanwhile
    w.run("06-07 18:00:01", "06-07 18:30:00");
    EXPECT_EQ(w.log.back(), "06-07 18:30:00 stop C");
}

TEST_F(EveryShow, ShowsChangedFromInsideATickApplyWhenTheTickEnds) {
    // Loading a show may show a message box, in which the folder watcher delivers changes.
    w.duringSwitch = [this] { w.scheduler.setShows({}); };
    w.run("06-07 17:59:59", "06-07 18:00:01");
    EXPECT_EQ(w.recording, "C");
    EXPECT_TRUE(w.scheduler.shows().empty());
}

TEST_F(EveryShow, OffItHoldsTheCurrentShowAndARunningRecordingsOwnShowOnly) {
    Window off(false);
    off.setFiles(kThreeShows);
    off.run("06-07 05:59:58", "06-07 18:31:00");
    // By hand on A, then the user looks at C: C's start is refused and its stop is not A's;
    // A's own stop, the next morning, still ends A's recording.
    off.now = at("06-07 18:40:00");
    off.start();
    off.current = "C";
    off.run("06-07 18:40:01", "06-08 07:00:01");
    off.run("06-14 17:59:59", "06-14 18:30:00");
    // A is no longer held once its recording has ended: its Monday start does nothing.
    for (const char* t : {"06-17 05:59:59", "06-17 06:00:00", "06-17 06:00:01"})
        off.tickAt(at(t));
    const std::vector<std::string> expected{
        "06-07 06:00:00 start A", "06-07 07:00:00 stop A",  "06-07 18:40:00 start A",
        "06-08 07:00:00 stop A",  "06-14 18:00:00 start C", "06-14 18:30:00 stop C",
    };
    EXPECT_EQ(off.log, expected);
}

TEST_F(EveryShow, TheCurrentShowsStartWhileAnotherShowRecordsIsToldToo) {
    w.run("06-07 17:59:59", "06-07 18:00:00");
    w.current = "A"; // C records; the user went back to A, whose start comes
    w.files["A"] = weekly({18, 10, 0}, {18, 20, 0}, "SMTWTFS");
    w.run("06-07 18:00:01", "06-07 18:30:00");
    const std::vector<std::string> expected{"06-07 18:00:00 load C", "06-07 18:00:00 start C",
                                            "06-07 18:10:00 A not recorded: C was recording",
                                            "06-07 18:30:00 stop C"};
    EXPECT_EQ(w.log, expected);
}

TEST_F(EveryShow, LateTicksAndClockChangesActOnceWhetherTheShowIsCurrentOrNot) {
    struct Case {
        const char* what;
        Schedule other;
        std::vector<const char*> ticks; // single ticks, in order
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"a 5-second stall across the start still loads and starts",
         weekly({18, 0, 0}, {18, 30, 0}, "SMTWTFS"),
         {"06-07 17:59:58", "06-07 18:00:03"},
         {"06-07 18:00:03 load C", "06-07 18:00:03 start C"}},
        {"a stall past the stop loads nothing",
         weekly({18, 0, 0}, {18, 0, 2}, "SMTWTFS"),
         {"06-07 17:59:58", "06-07 18:00:04"},
         {"06-07 18:00:04 C was not recorded: KelvoRecorder was busy from 17:59 to 18:00"}},
        {"a start in the missing hour comes at 3:00",
         weekly({2, 30, 0}, {4, 0, 0}, "SMTWTFS"),
         {"03-10 06:59:59 Z", "03-10 07:00:00 Z"},
         {"03-10 03:00:00 load C", "03-10 03:00:00 start C"}},
        {"the repeated hour starts once",
         weekly({1, 30, 0}, {1, 45, 0}, "SMTWTFS"),
         {"11-03 05:29:59 Z", "11-03 05:30:00 Z", "11-03 05:45:00 Z", "11-03 06:29:59 Z",
          "11-03 06:30:00 Z", "11-03 06:45:00 Z"},
         {"11-03 01:30:00 load C", "11-03 01:30:00 start C", "11-03 01:45:00 stop C"}},
    };
    for (const Case& c : cases) {
        for (const bool current : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (current ? ", current" : ", another show"));
            Window window;
            window.setFiles({{"A", weekly({12, 0, 0}, {13, 0, 0}, ".......")}, {"C", c.other}});
            if (current)
                window.current = "C";
            for (const char* tick : c.ticks)
                window.tickAt(at(tick));
            std::vector<std::string> expected = c.expected;
            if (current)
                std::erase_if(expected, [](const std::string& e) { return e.ends_with("load C"); });
            EXPECT_EQ(window.log, expected);
        }
    }
}

TEST(NextStart, IsTheEarliestStartAfterNowAmongTheShowsGiven) {
    test::useTimeZone("America/New_York");
    const std::time_t friday = at("06-07 17:00:00");
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, Schedule>> shows;
        std::string expected;
    };
    const Case cases[] = {
        {"later today, named as in the caption",
         {{"Evening Show.cia", weekly({18, 0, 0}, {19, 0, 0}, "SMTWTFS")}},
         "Next: Evening Show, Fri 18:00"},
        {"now is not next: a week on",
         {{"Now", weekly({17, 0, 0}, {18, 0, 0}, ".....F.")}},
         "Next: Now, Fri 17:00"},
        {"unchecked days are skipped, seconds shown",
         {{"Tuesday", weekly({6, 30, 15}, {7, 0, 0}, "..T....")}},
         "Next: Tuesday, Tue 06:30:15"},
        {"the earliest of several",
         {{"Late", weekly({23, 0, 0}, {23, 30, 0}, "SMTWTFS")},
          {"Early", weekly({17, 0, 1}, {17, 30, 0}, "SMTWTFS")},
          {"Tomorrow", weekly({9, 0, 0}, {10, 0, 0}, "......S")}},
         "Next: Early, Fri 17:00:01"},
        {"ties go to the first given",
         {{"Current", weekly({20, 0, 0}, {21, 0, 0}, "SMTWTFS")},
          {"Other", weekly({20, 0, 0}, {22, 0, 0}, "SMTWTFS")}},
         "Next: Current, Fri 20:00"},
        {"no weekday, no start", {{"Never", weekly({18, 0, 0}, {19, 0, 0}, ".......")}}, ""},
        {"an unreadable start time", {{"Broken", weekly({-1, -1, -1}, {19, 0, 0}, "SMTWTFS")}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto next = nextStart(friday, c.shows);
        EXPECT_EQ(next ? nextStartText(*next) : "", c.expected);
    }
}

} // namespace
} // namespace kelvo
