#include "recorder/schedule/second_ticker.h"

#include <QTimer>

namespace kelvo {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kPeriod{1000};
constexpr milliseconds kEarlySlack{3};
constexpr milliseconds kLateSlack{20};

milliseconds nowPhase() {
    return phaseInSecond(std::chrono::system_clock::now());
}

} // namespace

milliseconds phaseInSecond(std::chrono::system_clock::time_point now) {
    const auto ms = std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count();
    return milliseconds{((ms % 1000) + 1000) % 1000};
}

bool tickIsAligned(milliseconds phase) {
    return phase >= kTickLead - kEarlySlack && phase <= kTickLead + kLateSlack;
}

milliseconds delayToNextTick(milliseconds phase) {
    const auto delay = ((kTickLead - phase).count() % 1000 + 1000) % 1000;
    return milliseconds{delay == 0 ? 1000 : delay};
}

SecondTicker::SecondTicker(QTimer* timer) : QObject(timer), timer_(timer) {
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setSingleShot(false);
    connect(timer_, &QTimer::timeout, this, &SecondTicker::onTimeout);
    timer_->start(delayToNextTick(nowPhase()));
}

void SecondTicker::onTimeout() {
    const milliseconds phase = nowPhase();
    if (!tickIsAligned(phase))
        timer_->start(delayToNextTick(phase));
    else if (timer_->intervalAsDuration() != kPeriod)
        timer_->start(kPeriod);
}

} // namespace kelvo
