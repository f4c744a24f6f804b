#include "recorder/schedule/scheduler.h"

#include "recorder/schedule/wall_clock.h"
#include "recorder/shows/show_store.h"

#include <cstdio>
#include <utility>

namespace kelvo {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

} // namespace

Scheduler::Scheduler(ScheduledRecorder& recorder) : recorder_(recorder) {}

Scheduler::~Scheduler() = default;

void Scheduler::setCurrentShow(std::string name, Schedule schedule) {
    current_ = {std::move(name), schedule};
}

void Scheduler::setEveryShow(bool on) {
    everyShow_ = on;
}

void Scheduler::setShows(std::map<std::string, Schedule> shows) {
    files_ = std::move(shows);
}

void Scheduler::applyChanges() {
    std::map<std::string, Schedule> wanted;
    if (everyShow_)
        wanted = files_;
    wanted.insert_or_assign(current_.first, current_.second);
    const std::string recording = recorder_.recordingShow();
    if (!recording.empty() && !wanted.contains(recording)) {
        if (auto kept = held_.find(recording); kept != held_.end())
            wanted.emplace(recording, kept->second.schedule);
    }

    std::map<std::string, Held> held;
    for (auto& [name, schedule] : wanted) {
        auto kept = held_.find(name);
        if (kept != held_.end()) {
            held.emplace(name, Held{schedule, std::move(kept->second.check)});
            continue;
        }
        // "Recording" means this show records, so its start is tried while another show
        // records (and refused there) and its stop never ends another show's recording.
        auto check = std::make_unique<ScheduleCheck>(
            RecorderHooks{[this, name] { return recorder_.recordingShow() == name; },
                          [this, name] { start(name); }, [this] { recorder_.stopRecording(); }});
        held.emplace(name, Held{schedule, std::move(check)});
    }
    held_ = std::move(held);
}

void Scheduler::tick(std::time_t now) {
    now_ = now;
    // What is held changes between ticks only: the operations below may tick again from a
    // nested event loop, and the shows must not be pulled from under the running tick.
    if (tickDepth_ == 0)
        applyChanges();
    const std::uint64_t thisTick = ++ticks_;
    ++tickDepth_;
    for (auto& [name, show] : held_) {
        show.check->tick(now, show.schedule);
        // A tick from inside an operation has handled the later seconds of every show;
        // going on would hand the remaining checks an older time.
        if (ticks_ != thisTick)
            break;
    }
    --tickDepth_;
}

void Scheduler::start(const std::string& name) {
    const std::string current = current_.first;
    const std::string busy = recorder_.recordingShow();
    const std::string notRecorded = shownShowName(name) + " not recorded: ";
    if (!busy.empty()) {
        recorder_.notRecorded(notRecorded + shownShowName(busy) + " was recording");
        return;
    }
    const Schedule schedule = held_.at(name).schedule;
    if (name == current) {
        recorder_.startRecording(secondsUntilStop(schedule, now_));
        return;
    }
    if (!everyShow_)
        return; // held only for its recording's stop
    if (recorder_.monitoring()) {
        recorder_.notRecorded(notRecorded + shownShowName(current) + " was monitoring");
        return;
    }
    if (!recorder_.switchTo(name)) {
        // Recording now would record under the wrong show's source and format.
        recorder_.notRecorded(notRecorded + shownShowName(current) + " could not be saved");
        return;
    }
    current_ = {name, schedule};
    recorder_.startRecording(secondsUntilStop(schedule, now_));
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

std::int64_t secondsUntilStop(const Schedule& schedule, std::time_t now) {
    const int stop = schedule.stop.secondsOfDay();
    const auto nowWall = wallSecond(now);
    if (stop < 0 || !nowWall)
        return kSecondsPerDay;
    const std::int64_t seconds =
        ((stop - secondOfDay(*nowWall)) % kSecondsPerDay + kSecondsPerDay) % kSecondsPerDay;
    return seconds == 0 ? kSecondsPerDay : seconds;
}

std::string shownShowName(const std::string& show) {
    return readableShowName(showTitle(show));
}

std::optional<NextStart> nextStart(std::time_t now,
                                   const std::vector<std::pair<std::string, Schedule>>& shows) {
    const auto nowWall = wallSecond(now);
    if (!nowWall)
        return std::nullopt;
    const WallSecond today = *nowWall - secondOfDay(*nowWall);
    std::optional<NextStart> best;
    for (const auto& [name, schedule] : shows) {
        const int start = schedule.start.secondsOfDay();
        if (start < 0)
            continue;
        for (int day = 0; day <= 7; ++day) {
            const WallSecond w = today + day * kSecondsPerDay + start;
            if (w <= *nowWall || !weekdayChecked(schedule, weekdayNumber(w)))
                continue;
            if (!best || w - *nowWall < best->in)
                best = NextStart{name, weekdayNumber(w), schedule.start, w - *nowWall};
            break;
        }
    }
    return best;
}

std::string nextStartText(const NextStart& next) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const char* day = next.weekday >= 1 && next.weekday <= 7 ? kDays[next.weekday - 1] : "?";
    char time[16];
    if (next.time.second != 0)
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", next.time.hour, next.time.minute,
                      next.time.second);
    else
        std::snprintf(time, sizeof time, "%02d:%02d", next.time.hour, next.time.minute);
    return "Next: " + shownShowName(next.show) + ", " + day + " " + time;
}

} // namespace kelvo
