#include "recorder/schedule/schedule_check.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace kelvo {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMaxReplay = kSecondsPerDay;

} // namespace

ScheduleCheck::ScheduleCheck(RecorderHooks hooks) : hooks_(std::move(hooks)) {
    if (!hooks_.recording || !hooks_.startRecording || !hooks_.stopRecording)
        throw std::invalid_argument("ScheduleCheck needs all three recorder hooks");
}

void ScheduleCheck::tick(std::time_t now, const Schedule& schedule) {
    const std::uint64_t thisTick = ++ticks_;
    const auto nowWall = wallSecond(now);
    if (!nowWall)
        return;

    WallSecond spanEnd = *nowWall;
    if (!lastTick_ || now < *lastTick_) {
        handledUpTo_ = *nowWall - 1;
    } else if (now > *lastTick_) {
        const std::time_t from = std::max<std::time_t>(*lastTick_ + 1, now - kMaxReplay + 1);
        spanEnd = highestWallSecond(from, now).value_or(*nowWall);
    }
    lastTick_ = now;

    const WallSecond first = std::max(handledUpTo_ + 1, spanEnd - kMaxReplay + 1);
    for (WallSecond w = first; w <= spanEnd; ++w) {
        // Marked before acting, so that a tick from inside a hook never handles it again.
        handledUpTo_ = w;
        applyRules(w, spanEnd, schedule);
        if (ticks_ != thisTick)
            return;
    }
}

void ScheduleCheck::applyRules(WallSecond w, WallSecond spanEnd, const Schedule& schedule) {
    const int time = secondOfDay(w);
    const int start = schedule.start.secondsOfDay();
    const int stop = schedule.stop.secondsOfDay();

    if (start >= 0 && time == start && weekdayChecked(schedule, weekdayNumber(w)) &&
        !hooks_.recording()) {
        std::int64_t untilStop = stop >= 0 ? (stop - start + kSecondsPerDay) % kSecondsPerDay : -1;
        if (untilStop == 0)
            untilStop = kSecondsPerDay;
        const bool showAlreadyOver = untilStop > 0 && w + untilStop <= spanEnd;
        if (!showAlreadyOver) {
            hooks_.startRecording();
            return;
        }
    }
    if (stop >= 0 && time == stop && hooks_.recording())
        hooks_.stopRecording();
}

} // namespace kelvo
