// The recorder's one scheduler: it holds the schedule of every show it is to record and
// checks each once a second by the rules of ScheduleCheck, one check per show, so that
// catch-up, daylight-saving changes and midnight are handled once for each show.
//
// What it holds:
// - the current show, as the window (or whoever owns the current show) feeds it with
//   setCurrentShow(); the fed schedule wins over the one in the show's file, which may be
//   older than what is on screen;
// - with "Record every show on its schedule" on, every other show whose file holds a usable
//   schedule (setShows());
// - the show whose recording runs, until it ends, so that its stop time ends it even when
//   another show has become current meanwhile.
// A show that stays held keeps its place in time: an edited schedule applies from the next
// second on, without replaying earlier ones; a show newly held starts from the present.
//
// Each show's check asks about that show only. Its start records it when nothing records:
// the current show at once (a monitoring session gives way, as for the Start button); any
// other show, with every show on, by switching to it first, refused and reported while a
// recording or monitoring runs, never cutting what runs. A start of the current show while
// another show records is refused and reported the same way. Its stop ends the recording
// only when that recording is this show's.
//
// Threads: the window's thread. The recorder's operations may run nested event loops in
// which the clock ticks again; changes of what is held made meanwhile apply at the end of
// the outermost tick.
#pragma once

#include "recorder/schedule/schedule.h"
#include "recorder/schedule/schedule_check.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvo {

// What the scheduler starts and stops.
class ScheduledRecorder {
public:
    virtual ~ScheduledRecorder() = default;
    // The show whose recording runs (paused or not); empty when none runs.
    virtual std::string recordingShow() = 0;
    // Monitoring runs: the device is taken.
    virtual bool monitoring() = 0;
    // Makes `show` current as picking it in the list would (the current show is saved
    // first). False when it could not: the current show stays.
    virtual bool switchTo(const std::string& show) = 0;
    // The Start button's operation on the show now current, which is due to stop in
    // `secondsUntilStop`.
    virtual void startRecording(std::int64_t secondsUntilStop) = 0;
    virtual void stopRecording() = 0;
    // A show reached its start and was not recorded: "SHOW not recorded: OTHER was
    // recording", for the status line and the desktop.
    virtual void notRecorded(const std::string& message) = 0;
};

class Scheduler {
public:
    // `recorder` outlives the scheduler.
    explicit Scheduler(ScheduledRecorder& recorder);
    ~Scheduler();

    // The show in the window now and its schedule as the controls show it.
    void setCurrentShow(std::string name, Schedule schedule);
    const std::string& currentShow() const { return current_.first; }

    // "Record every show on its schedule".
    void setEveryShow(bool on);
    bool everyShow() const { return everyShow_; }

    // Every show file's schedule by show name; a show without a usable schedule is left out.
    void setShows(std::map<std::string, Schedule> shows);
    const std::map<std::string, Schedule>& shows() const { return files_; }

    // Called by the clock tick with the present time, taken once.
    void tick(std::time_t now);

    // The shows whose starts are ahead: the current show first, then, with every show on,
    // the others by name.
    std::vector<std::pair<std::string, Schedule>> scheduledShows() const;
    // A scheduled start lies at most two minutes ahead of `now`.
    bool scheduledStartIsNear(std::time_t now) const;

private:
    struct Held {
        Schedule schedule;
        std::unique_ptr<ScheduleCheck> check;
    };

    void applyChanges();
    void start(const std::string& name);

    ScheduledRecorder& recorder_;
    std::pair<std::string, Schedule> current_;
    bool everyShow_ = false;
    std::map<std::string, Schedule> files_;
    std::map<std::string, Held> held_;
    std::time_t now_ = 0;
    std::uint64_t ticks_ = 0;
    int tickDepth_ = 0;
};

// Seconds from `now` to the next local moment at `stop`, 1 to 86400: a stop equal to the
// present time of day is a day away. A stop that matches no second counts as a day away.
std::int64_t secondsUntilStop(const Schedule& schedule, std::time_t now);

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
