// The recorder's one scheduler: it holds the schedule of every show it is to record and
// acts on each show's occurrences (a ticked weekday's start to its stop, in the show's time
// zone), each at most once.
//
// What it holds:
// - the current show, as the window (or whoever owns the current show) feeds it with
//   setCurrentShow(); the fed schedule wins over the one in the show's file, which may be
//   older than what is on screen;
// - with "Record every show on its schedule" on, every other show whose file holds a usable
//   schedule (setShows());
// - the show whose recording runs, until it ends, so that its stop time ends it even when
//   another show has become current meanwhile.
// A show newly held, or whose schedule changed, starts from the present: an occurrence
// already under way is not started by picking the show or editing its times.
//
// Each tick handles what happened since the previous one, in order of time: the stops (every
// day's stop time ends a recording of that show, however it was started) and the starts. A
// start records the show when nothing records: the current show at once (a monitoring
// session gives way, as for the Start button); any other show, with every show on, by
// switching to it first, refused and reported while a recording or monitoring runs, never
// cutting what runs. A start of the current show while another show records is refused and
// reported the same way.
//
// No occurrence is lost to a late tick, a suspend or a clock step forward: a start in the
// time skipped still starts, late, with what was lost and why ("the computer was asleep at
// 18:00"), and an occurrence that began and ended in it is told as not recorded ("the clock
// jumped from 18:02 to 19:30"). Catch-up reaches back at most a day. The first tick after the
// program starts records an occurrence already under way, unless less than a minute of it is
// left ("KelvoRecorder was not running at 18:00"). An occurrence whose recording a previous
// run started continues in a new part. What was recorded is kept in an OccurrenceLog, so a
// clock set back, or a restart, never records an occurrence twice.
//
// Threads: the window's thread. The recorder's operations may run nested event loops in
// which the clock ticks again; a tick made from inside one takes over, and changes of what is
// held made meanwhile apply at the end of the outermost tick.
#pragma once

#include "recorder/schedule/occurrence_log.h"
#include "recorder/schedule/occurrences.h"
#include "recorder/schedule/schedule.h"
#include "recorder/schedule/zone_clock.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kelvo {

// The clock as one tick sees it: the wall clock, and where the system has them, the time since
// boot with and without the time the machine slept. They tell a suspend from a clock step;
// without them a long pause counts as a suspend.
struct ClockReading {
    std::time_t wall = 0;
    std::optional<std::int64_t> sinceBootMs; // CLOCK_BOOTTIME
    std::optional<std::int64_t> awakeMs;     // CLOCK_MONOTONIC
};
ClockReading readSystemClock();

// How a scheduled start came about.
struct ScheduledStart {
    std::int64_t secondsUntilStop = 0;
    // Seconds of the occurrence already gone (0 on time).
    std::int64_t secondsLate = 0;
    // With a minute or more lost, or a continued occurrence, what to tell instead of the
    // plain "Recording SHOW": "Recording SHOW started 5 min late: KelvoRecorder was not
    // running at 18:00". Empty otherwise.
    std::string notice;
    // A previous run of the program recorded this occurrence until it went away.
    bool continued = false;
};

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
    // The Start button's operation on the show now current.
    virtual void startRecording(const ScheduledStart& start) = 0;
    virtual void stopRecording() = 0;
    // A show was not recorded: "SHOW not recorded: OTHER was recording", "SHOW was not
    // recorded: the clock jumped from 18:02 to 19:30", for the status line and the desktop.
    virtual void notRecorded(const std::string& message) = 0;
};

class Scheduler {
public:
    // `recorder` outlives the scheduler. `logFile` keeps the recorded occurrences across
    // runs; empty: in memory only.
    explicit Scheduler(ScheduledRecorder& recorder, std::filesystem::path logFile = {});
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

    // Called by the clock tick with the clock, read once.
    void tick(const ClockReading& now);
    void tick(std::time_t now) { tick(ClockReading{now, {}, {}}); }
    // The program is going away at `now` with its recording: a later run continues the
    // occurrence in a new part and can say how long it was away.
    void leaving(std::time_t now);

    // The shows whose starts are ahead: the current show first, then, with every show on,
    // the others by name.
    std::vector<std::pair<std::string, Schedule>> scheduledShows() const;
    // A scheduled start lies at most two minutes ahead of `now`.
    bool scheduledStartIsNear(std::time_t now) const;

    const OccurrenceLog& log() const { return log_; }

private:
    struct Held {
        Schedule schedule;
        ZoneClock zone;
    };
    struct Running {
        std::string show, key;
        std::time_t stopAt = 0;
        bool stops = true;
    };
    enum class Gap { None, FirstTick, Busy, Asleep, ClockJump };

    void applyChanges(std::time_t now);
    void handle(std::time_t from, std::time_t now, Gap gap, std::uint64_t thisTick);
    void startUnderWay(std::time_t now, std::uint64_t thisTick);
    void tryStart(const std::string& show, const Occurrence& o, std::time_t now,
                  ScheduledStart start);
    bool start(const std::string& name, const ScheduledStart& how);
    void noteEndedRecording(const std::string& recording, std::time_t now);
    std::string whyLate(Gap gap, std::time_t at) const;
    std::string whyMissed(Gap gap, std::time_t now) const;
    std::time_t nextEvent(std::time_t now) const;

    ScheduledRecorder& recorder_;
    OccurrenceLog log_;
    std::pair<std::string, Schedule> current_;
    bool everyShow_ = false;
    std::map<std::string, Schedule> files_;
    std::map<std::string, Held> held_;
    // Occurrences this run has acted on (started, refused, told), by show and key.
    std::set<std::pair<std::string, std::string>> handled_;
    std::optional<Running> running_;
    std::optional<ClockReading> last_;
    std::time_t gapFrom_ = 0;    // the previous tick's wall time, for what is told
    std::time_t handledTo_ = 0;  // events up to this moment have been handled
    std::time_t quietUntil_ = 0; // no event before this moment; 0: look at the next tick
    std::string heldRecording_;  // the recording's show when held_ was last made
    bool changed_ = true;
    std::uint64_t ticks_ = 0;
    int tickDepth_ = 0;
};

// A show as the user reads it in messages and hints: like the caption, without ".cia", and
// readable when its file name is not UTF-8.
std::string shownShowName(const std::string& show);

// What "Next:" tells: the earliest start, strictly after `now`, among `shows` (name and
// schedule). Ties go to the first in the list. Empty when no show starts within a week.
struct NextStart {
    std::string show;
    std::time_t at = 0;
    std::int64_t in = 0; // seconds from now
    // Local to this machine.
    int weekday = 0; // 1 = Sunday .. 7 = Saturday
    TimeOfDay time;
    // In the show's zone, when it has one of its own.
    std::string zone;
    int zoneWeekday = 0;
    TimeOfDay zoneTime;
};
std::optional<NextStart> nextStart(std::time_t now,
                                   const std::vector<std::pair<std::string, Schedule>>& shows);

// "Next: Evening Show, Tue 18:00" (seconds only when not zero: "Tue 18:00:05"); for a show in
// another zone whose clock reads otherwise, "Next: Jazz Hour, Tue 02:00 (Mon 20:00 in New
// York)".
std::string nextStartText(const NextStart& next);

} // namespace kelvo
