// The schedule check run by the window's clock tick: starts and stops recordings at the
// schedule's times of day.
//
// Rules, applied to each second of local time:
// - start: the second's time of day equals the start time, the recording flag is 0 and the
//   second's weekday box is checked -> start recording, and nothing more for that second;
// - otherwise stop: the time of day equals the stop time and the recording flag is 1
//   (recording or paused) -> stop recording. The stop ignores the weekdays and how the
//   recording was started.
// Times are compared as times of day to the whole second, never as texts.
//
// No second is lost to a late timer. A tick applies the rules to every local second since
// the previous tick, in order, each with its own time of day and weekday, going back at most
// 24 hours (a busy event loop, a stalled window, a suspended machine). A start whose stop
// time also passed before the present tick is not made: the show is over. The recording
// flag is read again before each second and after each action, so a replayed start that
// succeeded makes later seconds see a running recording, and one that failed does not.
//
// Clock changes:
// - Clocks go back (end of summer time): the local seconds of the repeated hour were already
//   handled the first time round; the second time they match nothing, so no local moment
//   starts or stops twice.
// - Clocks go forward (start of summer time): the local seconds of the missing hour are
//   handled at the first second after the gap (e.g. 3:00:00), in order, exactly like seconds
//   skipped by a late timer. A show from 2:30 to 4:00 starts at 3:00:00; one from 2:15 to
//   2:45 is not recorded; a recording due to stop at 2:30 stops at 3:00:00.
// - The system clock set back, or the first tick: nothing is replayed; the tick applies the
//   rules to its own second only and the next ticks go on from there.
// - Two ticks in the same second: the second one does nothing.
//
// Threads: everything runs on the window's thread. The hooks may run a nested event loop
// (a modal message box) in which the clock keeps ticking; a tick made from inside a hook takes
// over, and the outer tick returns without touching the seconds the inner one handled.
#pragma once

#include "recorder/schedule/schedule.h"
#include "recorder/schedule/wall_clock.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>

namespace kelvo {

// How the schedule check reaches the recorder. All three must be set.
struct RecorderHooks {
    // The recording flag: true while a recording runs, paused or not.
    std::function<bool()> recording;
    // The Start button's operation. It may fail and leave the flag false.
    std::function<void()> startRecording;
    // The Stop button's operation.
    std::function<void()> stopRecording;
};

class ScheduleCheck {
public:
    // Throws std::invalid_argument when a hook is empty.
    explicit ScheduleCheck(RecorderHooks hooks);

    // Called by the clock tick with the present time, taken once, and the schedule as the
    // controls show it now. Calls the hooks for whatever the seconds since the previous tick
    // call for. A `now` the C library cannot convert changes nothing.
    void tick(std::time_t now, const Schedule& schedule);

private:
    void applyRules(WallSecond w, WallSecond spanEnd, const Schedule& schedule);

    RecorderHooks hooks_;
    std::optional<std::time_t> lastTick_;
    // The latest local second whose rules have been applied.
    WallSecond handledUpTo_ = 0;
    std::uint64_t ticks_ = 0;
};

} // namespace kelvo
