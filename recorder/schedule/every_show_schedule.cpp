#include "recorder/schedule/every_show_schedule.h"

#include "recorder/schedule/wall_clock.h"
#include "recorder/shows/show_store.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace kelvo {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

} // namespace

EveryShowSchedule::EveryShowSchedule(EveryShowHooks hooks) : hooks_(std::move(hooks)) {
    if (!hooks_.currentShow || !hooks_.recordingShow || !hooks_.monitoring || !hooks_.switchTo ||
        !hooks_.startRecording || !hooks_.stopRecording || !hooks_.notRecorded)
        throw std::invalid_argument("EveryShowSchedule needs all its hooks");
}

void EveryShowSchedule::setShows(std::map<std::string, Schedule> shows) {
    if (tickDepth_ > 0) {
        pending_ = std::move(shows);
        return;
    }
    applyShows(std::move(shows));
}

void EveryShowSchedule::applyShows(std::map<std::string, Schedule> shows) {
    std::map<std::string, Show> checks;
    for (const auto& [name, schedule] : shows) {
        auto kept = checks_.find(name);
        if (kept != checks_.end()) {
            checks.emplace(name, Show{schedule, std::move(kept->second.check)});
            continue;
        }
        // Each show's check asks about that show only: "recording" means this show records,
        // so its start is tried while anything else runs (and refused there) and its stop
        // never ends another show's recording.
        auto check = std::make_unique<ScheduleCheck>(
            RecorderHooks{[this, name] { return hooks_.recordingShow() == name; },
                          [this, name] { start(name); }, [this, name] { stop(name); }});
        checks.emplace(name, Show{schedule, std::move(check)});
    }
    checks_ = std::move(checks);
    schedules_ = std::move(shows);
}

bool EveryShowSchedule::isCurrent(const std::string& name) const {
    return hooks_.currentShow() == name;
}

void EveryShowSchedule::tick(std::time_t now) {
    ++tickDepth_;
    for (auto& [name, show] : checks_) {
        show.check->tick(now, show.schedule);
    }
    if (--tickDepth_ == 0 && pending_) {
        applyShows(*std::exchange(pending_, std::nullopt));
    }
}

void EveryShowSchedule::start(const std::string& name) {
    if (isCurrent(name))
        return; // the window's own check starts it
    const std::string current = hooks_.currentShow();
    const std::string busy = hooks_.recordingShow();
    const std::string notRecorded = shownShowName(name) + " not recorded: ";
    if (!busy.empty()) {
        hooks_.notRecorded(notRecorded + shownShowName(busy) + " was recording");
        return;
    }
    if (hooks_.monitoring()) {
        hooks_.notRecorded(notRecorded + shownShowName(current) + " was monitoring");
        return;
    }
    if (!hooks_.switchTo(name) || !isCurrent(name)) {
        // Recording now would record under the wrong show's source and format.
        hooks_.notRecorded(notRecorded + shownShowName(current) + " could not be saved");
        return;
    }
    hooks_.startRecording();
}

void EveryShowSchedule::stop(const std::string& name) {
    if (isCurrent(name))
        return; // the window's own check stops it
    hooks_.stopRecording();
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
