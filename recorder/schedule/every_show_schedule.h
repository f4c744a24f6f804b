// The schedules of the shows that are not in the window: with "Record every show on its
// schedule" on, each show file in configurations keeps its own weekly schedule, checked each
// second by the same rules as the current show (ScheduleCheck), one check per show so that
// catch-up, DST and nested ticks behave exactly as they do for the window's own schedule.
//
// The current show is not checked here: the window checks it from its controls. A show's
// check keeps running while it is current, with its actions ignored, so that it never
// replays the seconds it spent as the current show when it stops being one.
//
// Another show's start while nothing records switches to that show and starts recording;
// while a recording or monitoring runs it is refused and reported, never cutting what runs.
// Another show's stop stops the recording only when that show is the one recording.
//
// Threads: the window's thread. Hooks may run nested event loops in which the clock ticks
// again; setShows() from inside a tick is deferred to the end of the outermost tick.
#pragma once

#include "recorder/schedule/schedule.h"
#include "recorder/schedule/schedule_check.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvo {

struct EveryShowHooks {
    // The show in the window now.
    std::function<std::string()> currentShow;
    // The show whose recording runs (paused or not); empty when none runs.
    std::function<std::string()> recordingShow;
    // Monitoring runs: the device is taken, so no recording can start either.
    std::function<bool()> monitoring;
    // Makes `show` current as picking it in the list would (the current show is saved
    // first). False when it could not: the current show stays.
    std::function<bool(const std::string& show)> switchTo;
    // The Start button's operation on the show now current.
    std::function<void()> startRecording;
    std::function<void()> stopRecording;
    // A show reached its start and was not recorded: "SHOW not recorded: OTHER was
    // recording", for the status line and the desktop.
    std::function<void(const std::string& message)> notRecorded;
};

class EveryShowSchedule {
public:
    // Throws std::invalid_argument when a hook is empty.
    explicit EveryShowSchedule(EveryShowHooks hooks);

    // Every show file's schedule by show name; a show without a usable schedule is left out.
    // A show that keeps its name keeps its place in time: an edited schedule applies from
    // the next second on, without replaying earlier ones.
    void setShows(std::map<std::string, Schedule> shows);
    const std::map<std::string, Schedule>& shows() const { return schedules_; }

    // Called by the clock tick, after the window's own schedule check, with the same `now`.
    void tick(std::time_t now);

private:
    struct Show {
        Schedule schedule;
        std::unique_ptr<ScheduleCheck> check;
    };

    void applyShows(std::map<std::string, Schedule> shows);
    bool isCurrent(const std::string& name) const;
    void start(const std::string& name);
    void stop(const std::string& name);

    EveryShowHooks hooks_;
    std::map<std::string, Schedule> schedules_;
    std::map<std::string, Show> checks_;
    std::optional<std::map<std::string, Schedule>> pending_;
    int tickDepth_ = 0;
};

// A show as the user reads it in messages and hints: like the caption, without ".cia", and
// readable when its file name is not UTF-8.
std::string shownShowName(const std::string& show);

// What "Next:" tells: the earliest start, strictly after `now`, among `shows` (name and
// schedule). Ties go to the first in the list. Empty when no show starts within a week.
struct NextStart {
    std::string show;
    int weekday = 0;     // 1 = Sunday .. 7 = Saturday
    TimeOfDay time;      // local time of day
    std::int64_t in = 0; // seconds from now, in local wall time
};
std::optional<NextStart> nextStart(std::time_t now,
                                   const std::vector<std::pair<std::string, Schedule>>& shows);

// "Next: Evening Show, Tue 18:00" (seconds only when not zero: "Tue 18:00:05").
std::string nextStartText(const NextStart& next);

} // namespace kelvo
