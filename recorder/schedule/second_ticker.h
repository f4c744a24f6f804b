// Keeps the window's clock tick a few milliseconds after each whole second of the system
// clock, so that the schedule sees a start second as soon as it begins rather than anywhere
// up to a second later.
//
// A plain 1000 ms timer keeps whatever phase it was started at and drifts against the system
// clock (which may also be stepped). The ticker re-arms the timer whenever a timeout lands
// outside [kTickLead - 3 ms, kTickLead + 20 ms] past a whole second, and otherwise leaves it
// periodic at 1000 ms. A late tick is harmless: the schedule check catches up on the seconds
// it skipped.
//
// Threads: the window's thread only, like the timer.
#pragma once

#include <QObject>

#include <chrono>

class QTimer;

namespace kelvo {

inline constexpr std::chrono::milliseconds kTickLead{5};

// How far past its whole second `now` lies, 0..999 ms.
std::chrono::milliseconds phaseInSecond(std::chrono::system_clock::time_point now);

// Whether a timeout at `phase` past a second is close enough to kTickLead to be left alone.
bool tickIsAligned(std::chrono::milliseconds phase);

// Time from a moment at `phase` past a second to the next moment at kTickLead past a second;
// 1 to 1000 ms.
std::chrono::milliseconds delayToNextTick(std::chrono::milliseconds phase);

class SecondTicker : public QObject {
    Q_OBJECT
public:
    // Makes `timer` a precise timer and starts it, aligned. The timer stays the caller's; the
    // ticker becomes its child and so lives as long as it. Connect the clock tick to the
    // timer's timeout() as usual.
    explicit SecondTicker(QTimer* timer);

private:
    void onTimeout();

    QTimer* timer_;
};

} // namespace kelvo
