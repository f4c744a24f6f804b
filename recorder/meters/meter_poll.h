// The meter poll: reads both peaks every 50 ms and draws them on the two level meters, with a
// peak-hold marker per channel that is released two seconds after its last new maximum.
//
// All calls and timer ticks come from the window's thread. The engine's worker updates the
// peaks behind CaptureEngine; a poll may see the same value twice or miss one.
#pragma once

#include <QObject>

class QTimer;

namespace kelvo {

class CaptureEngine;
class LevelMeter;

struct MeterChannel {
    int levelPercent = 0;    // the latest poll, 0..100
    int previousPercent = 0; // the poll before; a released hold sets it to 2
    int holdPercent = 0;     // 0: no marker
};

class MeterPoll : public QObject {
    Q_OBJECT

public:
    // Takes the window's meters and timers: meterPoll (Timer2), rightHold (Timer3) and
    // leftHold (Timer4). Sets their intervals (50, 2000, 2000 ms) and connects their ticks to
    // poll(), rightHoldTick() and leftHoldTick(); do not connect them again. Starts with no
    // hold and stops nothing: the window decides which timers run at start-up.
    MeterPoll(CaptureEngine& engine, LevelMeter& leftMeter, LevelMeter& rightMeter,
              QTimer& meterPoll, QTimer& rightHold, QTimer& leftHold, QObject* parent = nullptr);

    // One poll: the right channel, then the left.
    void poll();
    void rightHoldTick();
    void leftHoldTick();

    // Paints both meters unlit, left first; the channel state is kept.
    void clearLevelMeters();

    // Previous and hold percent of both channels to 0, as a start of monitoring needs.
    void resetChannels();

    // Enables the left and right peak-hold timers and the meter poll; a timer that already
    // runs keeps its phase.
    void enableTimers();
    // Disables the left and right peak-hold timers and the meter poll.
    void disableTimers();
    // Stops only the meter poll, as the end of a recording does: the peak-hold timers keep
    // running, since they only release the hold marks.
    void stopPolling();

    const MeterChannel& left() const { return left_; }
    const MeterChannel& right() const { return right_; }

private:
    void pollChannel(MeterChannel& channel, int peak, LevelMeter& meter, QTimer& holdTimer);

    CaptureEngine& engine_;
    LevelMeter& leftMeter_;
    LevelMeter& rightMeter_;
    QTimer& meterPoll_;
    QTimer& rightHold_;
    QTimer& leftHold_;
    MeterChannel left_;
    MeterChannel right_;
};

// Percent of full scale (32767) of a peak, rounded to nearest with halves to even; peaks
// outside 0..32767 are taken as silence or full scale.
int peakPercent(int peak);

} // namespace kelvo
