// A year of schedules, from 2027-07-01 to 2028-07-01 in Berlin, driven through the real
// scheduler and recording controller (with the engine double) over a fake clock: five shows in
// three zones, every daylight-saving change, late ticks, suspends, clock steps and restarts
// that lose everything but what the program keeps on disk. Every occurrence is accounted for.
#include "recorder/schedule/scheduler.h"
#include "tests/recording/fakes.h"
#include "tests/schedule/time_zone.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>

namespace kelvo {
namespace {

using Rig = testing::ControllerRig<testing::FakeNotifier, testing::FakeInhibitor>;

struct Show {
    std::string name;
    Schedule schedule;
};

Schedule weekly(TimeOfDay start, TimeOfDay stop, const char* days, std::string zone) {
    Schedule s{start, stop, {}, std::move(zone)};
    for (int day = 0; day < 7; ++day)
        s.weekdays[day] = days[day] != '.';
    return s;
}

// No two overlap in any week of the year, whatever the zones' clocks do.
const std::vector<Show> kShows{
    {"Berlin Evening", weekly({18, 0, 0}, {19, 0, 0}, "..T.T..", "")},
    {"New York Jazz", weekly({20, 0, 0}, {21, 0, 0}, ".MT....", "America/New_York")},
    {"Sydney Breakfast", weekly({7, 0, 0}, {8, 0, 0}, ".M..T..", "Australia/Sydney")},
    {"Night Watch", weekly({23, 0, 0}, {2, 30, 0}, "......S", "")},
    {"Every Day", weekly({12, 0, 0}, {12, 30, 0}, "SMTWTFS", "")},
};

// The moment a local time begins, worked out with QTimeZone rather than the scheduler's own
// tables: a time skipped by the clocks going forward begins when the gap ends, a repeated one
// with its first pass.
std::time_t momentOf(const QDate& date, const QTime& time, const QTimeZone& zone) {
    const QDateTime asked(date, time, zone);
    std::time_t t = asked.toSecsSinceEpoch();
    const auto shows = [&](std::time_t m) {
        const QDateTime d = QDateTime::fromSecsSinceEpoch(m, zone);
        return d.date() == date && d.time() == time;
    };
    if (!shows(t))
        return zone.nextTransition(QDateTime(date, QTime(0, 0), zone)).atUtc.toSecsSinceEpoch();
    if (shows(t - 3600))
        t -= 3600;
    return t;
}

struct Expected {
    std::string show;
    std::time_t startAt, stopAt;
};

std::vector<Expected> occurrencesOfTheYear(std::time_t from, std::time_t to) {
    std::vector<Expected> result;
    for (const Show& show : kShows) {
        const QTimeZone zone = show.schedule.zone.empty()
                                   ? QTimeZone("Europe/Berlin")
                                   : QTimeZone(QByteArray::fromStdString(show.schedule.zone));
        const auto& s = show.schedule;
        const QTime start(s.start.hour, s.start.minute), stop(s.stop.hour, s.stop.minute);
        for (QDate d = QDate(2027, 6, 28); d <= QDate(2028, 7, 3); d = d.addDays(1)) {
            if (!s.weekdays[static_cast<std::size_t>(d.dayOfWeek() % 7)])
                continue;
            const std::time_t a = momentOf(d, start, zone);
            const std::time_t b = momentOf(stop <= start ? d.addDays(1) : d, stop, zone);
            if (a >= from && b <= to)
                result.push_back({show.name, a, b});
        }
    }
    return result;
}

struct Part {
    std::string show;
    std::time_t from = 0, to = 0;
    ScheduledStart how;
    bool byStopTime = false;
    bool told = false;
};

// The window's part: the current show, the switch and the start, over a controller that a
// restart replaces.
struct Program : ScheduledRecorder {
    std::unique_ptr<Rig> rig = std::make_unique<Rig>();
    std::string current = kShows.front().name;
    std::time_t wall = 0;
    std::vector<Part>& parts;
    std::vector<std::string>& told;

    Program(std::vector<Part>& p, std::vector<std::string>& t) : parts(p), told(t) {}
    std::string recordingShow() override {
        return rig->controller.isRecording() ? parts.back().show : std::string();
    }
    bool monitoring() override { return false; }
    bool switchTo(const std::string& show) override {
        current = show;
        return true;
    }
    void startRecording(const ScheduledStart& how) override {
        rig->now = QDateTime::fromSecsSinceEpoch(wall);
        rig->show.name = rig->show.readableName = current;
        rig->controller.startScheduledRecording(
            rig->show, how.secondsUntilStop,
            {how.secondsLate, QString::fromStdString(how.notice), how.continued});
        if (!rig->controller.isRecording())
            return;
        parts.push_back({current, wall, 0, how, false});
        // Told where the user and the recording's report see it.
        const RecordingSession& session = *rig->controller.session();
        parts.back().told = !how.notice.empty() &&
                            session.late.notice.toStdString() == how.notice &&
                            rig->notifier.sent.back().starts_with(how.notice + " | ");
    }
    void stopRecording() override {
        rig->controller.stopRecording();
        parts.back().to = wall;
        parts.back().byStopTime = true;
    }
    void notRecorded(const std::string& message) override { told.push_back(message); }
};

enum class Kind { Stall, Suspend, Step, Restart, Crash };
struct Injection {
    std::time_t at; // wall time, as planned
    Kind kind;
    std::int64_t amount; // seconds: the stall, the sleep, the step, the time away
};

TEST(YearOfSchedules, EveryOccurrenceIsRecordedOnceOrToldWhyNot) {
    test::useTimeZone("Europe/Berlin");
    const std::time_t begin = QDateTime(QDate(2027, 7, 1), QTime(0, 0)).toSecsSinceEpoch();
    const std::time_t end = QDateTime(QDate(2028, 7, 1), QTime(0, 0)).toSecsSinceEpoch();
    const std::vector<Expected> expected = occurrencesOfTheYear(begin, end);

    std::mt19937 random(20270701);
    const auto pick = [&](std::int64_t lo, std::int64_t hi) {
        return std::uniform_int_distribution<std::int64_t>(lo, hi)(random);
    };
    const auto someOccurrence = [&] { return expected[pick(0, expected.size() - 1)]; };
    std::vector<Injection> plan;
    for (std::time_t t = begin + 3600; t < end; t += pick(2, 4) * 3600)
        plan.push_back({t, Kind::Stall, pick(1, 20)});
    for (int i = 0; i < 40; ++i)
        plan.push_back({someOccurrence().startAt - pick(0, 10), Kind::Stall, pick(1, 20)});
    for (int i = 0; i < 8; ++i)
        plan.push_back({someOccurrence().startAt - 300, Kind::Suspend, 600});
    for (int i = 0; i < 4; ++i)
        plan.push_back({someOccurrence().stopAt - 300, Kind::Suspend, 600});
    for (int i = 0; i < 3; ++i)
        plan.push_back({someOccurrence().startAt - 3600, Kind::Suspend, 8 * 3600});
    for (int i = 0; i < 3; ++i)
        plan.push_back({begin + pick(0, end - begin), Kind::Suspend, 8 * 3600});
    for (int i = 0; i < 4; ++i) {
        const Expected o = someOccurrence();
        const std::time_t at = i < 2 ? o.startAt + 600 : o.startAt - 600;
        plan.push_back({at, Kind::Step, i % 2 ? -3600 : 3600});
        plan.push_back({at + 2 * 86400, Kind::Step, i % 2 ? 3600 : -3600});
    }
    for (int i = 0; i < 20; ++i) {
        const bool midShow = i < 8;
        const std::time_t at =
            midShow ? someOccurrence().startAt + pick(300, 1200) : begin + pick(0, end - begin);
        plan.push_back({at, i % 7 == 3 ? Kind::Crash : Kind::Restart,
                        midShow ? pick(10, 300) : pick(10, 1800)});
    }
    std::sort(plan.begin(), plan.end(),
              [](const Injection& a, const Injection& b) { return a.at < b.at; });

    const QTemporaryDir kept; // what survives a restart
    const std::string logFile = kept.filePath(QStringLiteral("occurrences")).toStdString();
    std::vector<Part> parts;
    std::vector<std::string> told;
    // Wall time spans with the program up, awake and the clock unstepped: where it could act.
    std::vector<std::pair<std::time_t, std::time_t>> watched;
    auto program = std::make_unique<Program>(parts, told);
    auto scheduler = std::make_unique<Scheduler>(*program, logFile);
    const auto feed = [&] {
        scheduler->setEveryShow(true);
        std::map<std::string, Schedule> files;
        for (const Show& show : kShows)
            files.emplace(show.name, show.schedule);
        scheduler->setShows(files);
    };
    feed();

    std::int64_t real = 0, slept = 0, offset = 0;
    std::time_t watchedFrom = begin;
    const auto wallNow = [&] { return begin + real + offset; };
    const auto breakWatch = [&] { watched.emplace_back(watchedFrom, wallNow()); };
    std::size_t next = 0;
    while (wallNow() < end) {
        while (next < plan.size() && plan[next].at <= wallNow()) {
            const Injection& in = plan[next++];
            switch (in.kind) {
            case Kind::Stall:
                real += in.amount;
                break;
            case Kind::Suspend:
                breakWatch();
                real += in.amount;
                slept += in.amount;
                watchedFrom = wallNow();
                break;
            case Kind::Step:
                breakWatch();
                offset += in.amount;
                watchedFrom = wallNow();
                break;
            case Kind::Restart:
            case Kind::Crash:
                breakWatch();
                program->wall = wallNow();
                if (in.kind == Kind::Restart)
                    scheduler->leaving(wallNow());
                if (program->rig->controller.isRecording()) {
                    program->rig->controller.stopRecording();
                    parts.back().to = wallNow();
                }
                scheduler.reset();
                program = std::make_unique<Program>(parts, told);
                real += in.amount;
                scheduler = std::make_unique<Scheduler>(*program, logFile);
                feed();
                watchedFrom = wallNow();
                break;
            }
        }
        program->wall = wallNow();
        scheduler->setCurrentShow(program->current,
                                  std::find_if(kShows.begin(), kShows.end(), [&](const Show& s) {
                                      return s.name == program->current;
                                  })->schedule);
        scheduler->tick({wallNow(), real * 1000, (real - slept) * 1000});
        ++real;
    }
    breakWatch();

    struct Row {
        int occurrences = 0, once = 0, missedAway = 0, missedTold = 0, missedUnexplained = 0,
            doubled = 0, lateUnderAMinute = 0, lateTold = 0, lateUntold = 0, continued = 0,
            stoppedEarly = 0;
        std::int64_t latest = 0;
    };
    std::map<std::string, Row> rows;
    int stray = 0;
    std::vector<int> partsOf(expected.size());
    std::vector<int> firstStartsOf(expected.size());
    for (const Part& part : parts) {
        const auto o = std::find_if(expected.begin(), expected.end(), [&](const Expected& e) {
            return e.show == part.show && e.startAt <= part.from && part.from <= e.stopAt;
        });
        if (o == expected.end()) {
            ++stray;
            continue;
        }
        const std::size_t i = static_cast<std::size_t>(o - expected.begin());
        Row& row = rows[o->show];
        ++partsOf[i];
        if (part.how.continued) {
            ++row.continued;
            continue;
        }
        if (++firstStartsOf[i] > 1)
            ++row.doubled;
        const std::int64_t late = part.from - o->startAt;
        EXPECT_EQ(part.how.secondsLate, late) << o->show << " at " << o->startAt;
        row.latest = std::max(row.latest, late);
        if (late >= 60)
            ++(part.told ? row.lateTold : row.lateUntold);
        else if (late > 1)
            ++row.lateUnderAMinute;
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Expected& o = expected[i];
        Row& row = rows[o.show];
        ++row.occurrences;
        if (partsOf[i] > 0) {
            row.once += firstStartsOf[i] == 1;
            continue;
        }
        const bool couldAct = std::any_of(watched.begin(), watched.end(), [&](const auto& w) {
            return w.first <= o.stopAt - 60 && w.second > o.startAt;
        });
        const std::string name = o.show + " was not recorded";
        const bool wasTold = std::any_of(told.begin(), told.end(),
                                         [&](const std::string& t) { return t.starts_with(name); });
        if (couldAct)
            ++row.missedUnexplained;
        else
            ++(wasTold ? row.missedTold : row.missedAway);
    }
    for (const Part& part : parts) {
        const auto o = std::find_if(expected.begin(), expected.end(), [&](const Expected& e) {
            return e.show == part.show && e.startAt <= part.from && part.from <= e.stopAt;
        });
        if (o != expected.end() && part.byStopTime && part.to < o->stopAt)
            ++rows[o->show].stoppedEarly;
    }

    std::printf("%-17s %5s %5s %6s %6s %6s %6s %6s %6s %6s %6s %6s\n", "show", "occ", "once",
                "m.away", "m.told", "m.bad", "double", "late<1", "late+t", "late+u", "max s",
                "cont.");
    Row total;
    for (const auto& [name, r] : rows) {
        std::printf("%-17s %5d %5d %6d %6d %6d %6d %6d %6d %6d %6lld %6d\n", name.c_str(),
                    r.occurrences, r.once, r.missedAway, r.missedTold, r.missedUnexplained,
                    r.doubled, r.lateUnderAMinute, r.lateTold, r.lateUntold,
                    static_cast<long long>(r.latest), r.continued);
        total.occurrences += r.occurrences;
        total.doubled += r.doubled;
        total.missedUnexplained += r.missedUnexplained;
        total.lateUntold += r.lateUntold;
        total.stoppedEarly += r.stoppedEarly;
    }
    std::printf("stray starts %d, stopped early %d, told %zu\n", stray, total.stoppedEarly,
                told.size());
    EXPECT_GT(total.occurrences, 500);
    EXPECT_EQ(total.doubled, 0);
    EXPECT_EQ(total.missedUnexplained, 0);
    EXPECT_EQ(total.lateUntold, 0);
    EXPECT_EQ(total.stoppedEarly, 0);
    EXPECT_EQ(stray, 0);
}

} // namespace
} // namespace kelvo
