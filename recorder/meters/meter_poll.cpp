#include "recorder/meters/meter_poll.h"

#include "recorder/meters/level_meter.h"
#include "recorder/platform/capture_engine.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace kelvo {

namespace {

constexpr int kFullScale = 32767;
constexpr int kPollMs = 50;
constexpr int kHoldMs = 2000;
constexpr int kReleasedPrevious = 2;

void enable(QTimer& timer) {
    if (!timer.isActive()) {
        timer.start();
    }
}

} // namespace

int peakPercent(int peak) {
    // An unavailable engine answers with a negative code; it must not draw outside the bar.
    peak = std::clamp(peak, 0, kFullScale);
    return static_cast<int>(std::nearbyint(peak * 100.0 / kFullScale));
}

MeterPoll::MeterPoll(CaptureEngine& engine, LevelMeter& leftMeter, LevelMeter& rightMeter,
                     QTimer& meterPoll, QTimer& rightHold, QTimer& leftHold, QObject* parent)
    : QObject(parent), engine_(engine), leftMeter_(leftMeter), rightMeter_(rightMeter),
      meterPoll_(meterPoll), rightHold_(rightHold), leftHold_(leftHold) {
    meterPoll_.setInterval(kPollMs);
    rightHold_.setInterval(kHoldMs);
    leftHold_.setInterval(kHoldMs);
    connect(&meterPoll_, &QTimer::timeout, this, &MeterPoll::poll);
    connect(&rightHold_, &QTimer::timeout, this, &MeterPoll::rightHoldTick);
    connect(&leftHold_, &QTimer::timeout, this, &MeterPoll::leftHoldTick);
}

void MeterPoll::poll() {
    pollChannel(right_, engine_.peakRight(), rightMeter_, rightHold_);
    pollChannel(left_, engine_.peakLeft(), leftMeter_, leftHold_);
}

void MeterPoll::pollChannel(MeterChannel& channel, int peak, LevelMeter& meter, QTimer& holdTimer) {
    channel.levelPercent = peakPercent(peak);
    if (channel.levelPercent < channel.previousPercent) {
        meter.drawMeterFall(channel.levelPercent, channel.holdPercent);
    } else if (channel.levelPercent > channel.previousPercent) {
        if (channel.levelPercent > channel.holdPercent) {
            channel.holdPercent = channel.levelPercent;
            // A new maximum holds for a full two seconds from now.
            holdTimer.stop();
            holdTimer.start();
        }
        meter.drawMeterRise(channel.levelPercent, channel.holdPercent);
    }
    channel.previousPercent = channel.levelPercent;
}

void MeterPoll::rightHoldTick() {
    right_.holdPercent = 0;
    right_.previousPercent = kReleasedPrevious;
}

void MeterPoll::leftHoldTick() {
    left_.holdPercent = 0;
    left_.previousPercent = kReleasedPrevious;
}

void MeterPoll::clearLevelMeters() {
    leftMeter_.clearMeter();
    rightMeter_.clearMeter();
}

void MeterPoll::resetChannels() {
    for (MeterChannel* channel : {&left_, &right_}) {
        channel->previousPercent = 0;
        channel->holdPercent = 0;
    }
}

void MeterPoll::enableTimers() {
    enable(leftHold_);
    enable(rightHold_);
    enable(meterPoll_);
}

void MeterPoll::disableTimers() {
    leftHold_.stop();
    rightHold_.stop();
    meterPoll_.stop();
}

void MeterPoll::stopPolling() {
    meterPoll_.stop();
}

} // namespace kelvo
