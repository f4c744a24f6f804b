#include "recorder/schedule/scheduler.h"

#include "recorder/shows/show_store.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <time.h>

namespace kelvo {

namespace {

// Catch-up reaches back this far: after a longer sleep only the last day counts.
constexpr std::time_t kMaxCatchUp = 86400;
// Ticks this far apart are ordinary; more is a stall, a suspend or a clock step.
constexpr std::time_t kTickSlack = 2;
// The wall clock running ahead of the time since boot by more than this was stepped.
constexpr std::int64_t kStepMs = 30000;
// A start this late is told as late; a shorter delay is the catch-up of a late tick.
constexpr std::int64_t kLateTold = 60;
// An occurrence found under way at start-up with less left than this is not started.
constexpr std::int64_t kLeastLeft = 60;
// Nothing is looked up between ticks for longer than this, whatever lies ahead.
constexpr std::time_t kQuietAtMost = 600;

std::string localClock(std::time_t t) {
    std::tm local{};
    char text[16] = "?";
    if (localtime_r(&t, &local))
        std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

// "5 min", "2 h 5 min"; never less than a minute.
std::string minutesText(std::int64_t seconds) {
    const std::int64_t minutes = std::max<std::int64_t>(1, (seconds + 30) / 60);
    if (minutes < 60)
        return std::to_string(minutes) + " min";
    return std::to_string(minutes / 60) + " h" +
           (minutes % 60 ? " " + std::to_string(minutes % 60) + " min" : std::string());
}

std::int64_t millis(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

} // namespace

ClockReading readSystemClock() {
    return {std::time(nullptr), millis(CLOCK_BOOTTIME), millis(CLOCK_MONOTONIC)};
}

Scheduler::Scheduler(ScheduledRecorder& recorder, std::filesystem::path logFile)
    : recorder_(recorder), log_(std::move(logFile)) {}

Scheduler::~Scheduler() = default;

void Scheduler::setCurrentShow(std::string name, Schedule schedule) {
    if (current_.first == name && current_.second == schedule)
        return;
    current_ = {std::move(name), std::move(schedule)};
    changed_ = true;
}

void Scheduler::setEveryShow(bool on) {
    changed_ = changed_ || everyShow_ != on;
    everyShow_ = on;
}

void Scheduler::setShows(std::map<std::string, Schedule> shows) {
    files_ = std::move(shows);
    changed_ = true;
}

void Scheduler::applyChanges(std::time_t now) {
    std::map<std::string, Schedule> wanted;
    if (everyShow_)
        wanted = files_;
    // Before the first show is loaded the window holds no show, and an empty name would read
    // as "nothing records" below.
    if (!current_.first.empty())
        wanted.insert_or_assign(current_.first, current_.second);
    const std::string recording = recorder_.recordingShow();
    if (!recording.empty() && !wanted.contains(recording)) {
        if (auto kept = held_.find(recording); kept != held_.end())
            wanted.emplace(recording, kept->second.schedule);
    }

    std::map<std::string, Held> held;
    for (auto& [name, schedule] : wanted) {
        auto kept = held_.find(name);
        if (kept != held_.end() && kept->second.schedule == schedule) {
            held.emplace(name, std::move(kept->second));
            continue;
        }
        Held show{schedule, ZoneClock(schedule.zone)};
        // Picking a show or editing its times is not a start: what is under way stays so.
        if (last_) {
            for (const Occurrence& o : occurrencesAt(show.schedule, show.zone, now))
                handled_.insert({name, o.key(show.schedule)});
        }
        held.emplace(name, std::move(show));
    }
    held_ = std::move(held);
    heldRecording_ = recording;
}

void Scheduler::tick(const ClockReading& now) {
    const std::uint64_t thisTick = ++ticks_;
    const std::string recording = recorder_.recordingShow();
    noteEndedRecording(recording, now.wall);
    // What is held changes between ticks only: the operations below may tick again from a
    // nested event loop, and the shows must not be pulled from under the running tick.
    if (tickDepth_ == 0 && (changed_ || recording != heldRecording_)) {
        applyChanges(now.wall);
        quietUntil_ = 0;
        changed_ = false;
    }

    Gap gap = Gap::None;
    if (!last_) {
        gap = Gap::FirstTick;
        handledTo_ = now.wall;
    } else if (now.wall < last_->wall) {
        handledTo_ = now.wall; // set back: nothing is replayed, the log keeps what was done
        quietUntil_ = 0;
    } else if (now.wall - last_->wall > kTickSlack) {
        const std::int64_t wallMs = (now.wall - last_->wall) * 1000;
        if (now.sinceBootMs && last_->sinceBootMs && now.awakeMs && last_->awakeMs) {
            const std::int64_t bootMs = *now.sinceBootMs - *last_->sinceBootMs;
            const std::int64_t sleptMs = bootMs - (*now.awakeMs - *last_->awakeMs);
            gap = wallMs - bootMs > kStepMs ? Gap::ClockJump
                  : sleptMs > kStepMs       ? Gap::Asleep
                                            : Gap::Busy;
        } else {
            gap = wallMs >= 60000 ? Gap::Asleep : Gap::Busy;
        }
        quietUntil_ = 0;
    }
    gapFrom_ = last_ ? last_->wall : now.wall;
    last_ = now;
    if (gap == Gap::None && quietUntil_ != 0 && now.wall < quietUntil_)
        return;

    ++tickDepth_;
    const std::time_t from = std::max(handledTo_, now.wall - kMaxCatchUp);
    handledTo_ = std::max(handledTo_, now.wall);
    handle(from, now.wall, gap, thisTick);
    if (ticks_ == thisTick && gap == Gap::FirstTick)
        startUnderWay(now.wall, thisTick);
    if (ticks_ == thisTick)
        quietUntil_ = nextEvent(now.wall);
    --tickDepth_;
}

void Scheduler::handle(std::time_t from, std::time_t now, Gap gap, std::uint64_t thisTick) {
    struct Event {
        std::time_t at;
        bool start;
        std::string show;
        Occurrence occurrence;
    };
    std::vector<Event> events;
    for (const auto& [name, show] : held_) {
        for (std::time_t at : stopsBetween(show.schedule, show.zone, from, now))
            events.push_back({at, false, name, {}});
        for (const Occurrence& o : occurrencesStarting(show.schedule, show.zone, from, now))
            events.push_back({o.startAt, true, name, o});
    }
    // A stop and a start at one moment: the stop first, so a show may follow another.
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.at != b.at ? a.at < b.at : !a.start && b.start;
    });

    for (const Event& e : events) {
        const auto held = held_.find(e.show);
        if (held == held_.end())
            continue;
        if (!e.start) {
            if (recorder_.recordingShow() == e.show) {
                if (running_ && running_->show == e.show)
                    log_.set(e.show, running_->key,
                             {OccurrenceLog::State::Done, running_->stopAt, 0}, now);
                running_.reset();
                recorder_.stopRecording();
            }
        } else {
            const Occurrence& o = e.occurrence;
            const std::string key = o.key(held->second.schedule);
            if (handled_.contains({e.show, key}) || log_.find(e.show, key)) {
                handled_.insert({e.show, key});
            } else if (o.stops && o.stopAt <= now) {
                handled_.insert({e.show, key});
                if (gap != Gap::None)
                    recorder_.notRecorded(shownShowName(e.show) +
                                          " was not recorded: " + whyMissed(gap, now));
            } else {
                ScheduledStart how;
                how.secondsLate = now - o.startAt;
                if (how.secondsLate >= kLateTold)
                    how.notice = "Recording " + shownShowName(e.show) + " started " +
                                 minutesText(how.secondsLate) + " late: " + whyLate(gap, o.startAt);
                tryStart(e.show, o, now, how);
            }
        }
        // A tick from inside an operation has handled the later events.
        if (ticks_ != thisTick)
            return;
    }
}

void Scheduler::startUnderWay(std::time_t now, std::uint64_t thisTick) {
    for (const auto& [name, show] : held_) {
        for (const Occurrence& o : occurrencesAt(show.schedule, show.zone, now)) {
            const std::string key = o.key(show.schedule);
            if (!handled_.insert({name, key}).second)
                continue;
            const auto entry = log_.find(name, key);
            if ((entry && entry->state == OccurrenceLog::State::Done) ||
                (o.stops && o.stopAt - now < kLeastLeft))
                continue;
            ScheduledStart how;
            const std::string shown = shownShowName(name);
            if (entry) {
                how.continued = true;
                if (entry->leftAt > 0 && entry->leftAt <= now) {
                    how.secondsLate = now - entry->leftAt;
                    how.notice = "Recording " + shown + " continued, " +
                                 minutesText(how.secondsLate) +
                                 " lost: KelvoRecorder was not running from " +
                                 localClock(entry->leftAt) + " to " + localClock(now);
                } else {
                    how.notice = "Recording " + shown +
                                 " continued in a new part: KelvoRecorder stopped "
                                 "during the show";
                }
            } else {
                how.secondsLate = now - o.startAt;
                if (how.secondsLate >= kLateTold)
                    how.notice = "Recording " + shown + " started " + minutesText(how.secondsLate) +
                                 " late: " + whyLate(Gap::FirstTick, o.startAt);
            }
            tryStart(name, o, now, how);
            if (ticks_ != thisTick)
                return;
        }
    }
}

void Scheduler::tryStart(const std::string& show, const Occurrence& o, std::time_t now,
                         ScheduledStart how) {
    const std::string key = o.key(held_.at(show).schedule);
    handled_.insert({show, key});
    // A recording of this show started by hand simply goes on; its stop time ends it.
    if (recorder_.recordingShow() == show)
        return;
    how.secondsUntilStop = o.stops ? o.stopAt - now : kSecondsPerDay;
    if (start(show, how) && recorder_.recordingShow() == show) {
        running_ = Running{show, key, o.stopAt, o.stops};
        log_.set(show, key, {OccurrenceLog::State::Started, o.stopAt, 0}, now);
    }
}

bool Scheduler::start(const std::string& name, const ScheduledStart& how) {
    const std::string current = current_.first;
    const std::string busy = recorder_.recordingShow();
    const std::string notRecorded = shownShowName(name) + " not recorded: ";
    if (!busy.empty()) {
        recorder_.notRecorded(notRecorded + shownShowName(busy) + " was recording");
        return false;
    }
    const Schedule schedule = held_.at(name).schedule;
    if (name == current) {
        recorder_.startRecording(how);
        return true;
    }
    if (!everyShow_)
        return false; // held only for its recording's stop
    if (recorder_.monitoring()) {
        recorder_.notRecorded(notRecorded + shownShowName(current) + " was monitoring");
        return false;
    }
    if (!recorder_.switchTo(name)) {
        // Recording now would record under the wrong show's source and format.
        recorder_.notRecorded(notRecorded + shownShowName(current) + " could not be saved");
        return false;
    }
    current_ = {name, schedule};
    recorder_.startRecording(how);
    return true;
}

void Scheduler::noteEndedRecording(const std::string& recording, std::time_t now) {
    // Stopped by hand or by a failure: the occurrence is over, it is not started again.
    if (running_ && recording != running_->show) {
        log_.set(running_->show, running_->key, {OccurrenceLog::State::Done, running_->stopAt, 0},
                 now);
        running_.reset();
    }
}

void Scheduler::leaving(std::time_t now) {
    if (running_ && recorder_.recordingShow() == running_->show)
        log_.set(running_->show, running_->key,
                 {OccurrenceLog::State::Started, running_->stopAt, now}, now);
    running_.reset();
}

std::string Scheduler::whyLate(Gap gap, std::time_t at) const {
    switch (gap) {
    case Gap::FirstTick:
        return "KelvoRecorder was not running at " + localClock(at);
    case Gap::Asleep:
        return "the computer was asleep at " + localClock(at);
    case Gap::ClockJump:
        return "the clock jumped from " + localClock(gapFrom_) + " to " + localClock(last_->wall);
    case Gap::None:
    case Gap::Busy:
        break;
    }
    return "KelvoRecorder was busy at " + localClock(at);
}

std::string Scheduler::whyMissed(Gap gap, std::time_t now) const {
    const std::string span = " from " + localClock(gapFrom_) + " to " + localClock(now);
    switch (gap) {
    case Gap::ClockJump:
        return "the clock jumped" + span;
    case Gap::Asleep:
        return "the computer was asleep" + span;
    default:
        return "KelvoRecorder was busy" + span;
    }
}

std::time_t Scheduler::nextEvent(std::time_t now) const {
    std::time_t next = now + kQuietAtMost;
    for (const auto& [name, show] : held_) {
        for (std::time_t at : stopsBetween(show.schedule, show.zone, now, next))
            next = std::min(next, at);
        for (const Occurrence& o : occurrencesStarting(show.schedule, show.zone, now, next))
            next = std::min(next, o.startAt);
    }
    return next;
}

std::vector<std::pair<std::string, Schedule>> Scheduler::scheduledShows() const {
    std::vector<std::pair<std::string, Schedule>> shows{current_};
    if (everyShow_) {
        for (const auto& [name, schedule] : files_) {
            if (name != current_.first)
                shows.emplace_back(name, schedule);
        }
    }
    return shows;
}

bool Scheduler::scheduledStartIsNear(std::time_t now) const {
    constexpr std::int64_t kAheadSeconds = 120; // long enough for any idle timer to be caught
    const auto next = nextStart(now, scheduledShows());
    return next && next->in <= kAheadSeconds;
}

std::string shownShowName(const std::string& show) {
    return readableShowName(showTitle(show));
}

std::optional<NextStart> nextStart(std::time_t now,
                                   const std::vector<std::pair<std::string, Schedule>>& shows) {
    std::optional<NextStart> best;
    for (const auto& [name, schedule] : shows) {
        const ZoneClock zone(schedule.zone);
        const auto ahead = occurrencesStarting(schedule, zone, now, now + 7 * kSecondsPerDay + 1);
        if (ahead.empty() || (best && ahead.front().startAt - now >= best->in))
            continue;
        const Occurrence& o = ahead.front();
        NextStart next;
        next.show = name;
        next.at = o.startAt;
        next.in = o.startAt - now;
        const LocalMoment local = ZoneClock().local(o.startAt);
        next.weekday = local.weekday;
        next.time = {local.secondOfDay / 3600, local.secondOfDay / 60 % 60, local.secondOfDay % 60};
        next.zone = zone.zone();
        const LocalMoment there = zone.local(o.startAt);
        next.zoneWeekday = there.weekday;
        next.zoneTime = {there.secondOfDay / 3600, there.secondOfDay / 60 % 60,
                         there.secondOfDay % 60};
        best = next;
    }
    return best;
}

namespace {

std::string dayAndTime(int weekday, const TimeOfDay& time) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const char* day = weekday >= 1 && weekday <= 7 ? kDays[weekday - 1] : "?";
    char text[32];
    if (time.second != 0)
        std::snprintf(text, sizeof text, "%s %02d:%02d:%02d", day, time.hour, time.minute,
                      time.second);
    else
        std::snprintf(text, sizeof text, "%s %02d:%02d", day, time.hour, time.minute);
    return text;
}

} // namespace

std::string nextStartText(const NextStart& next) {
    std::string text =
        "Next: " + shownShowName(next.show) + ", " + dayAndTime(next.weekday, next.time);
    const std::string there = dayAndTime(next.zoneWeekday, next.zoneTime);
    if (!next.zone.empty() && there != dayAndTime(next.weekday, next.time))
        text += " (" + there + " in " + zonePlace(next.zone) + ")";
    return text;
}

} // namespace kelvo
