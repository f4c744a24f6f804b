// Waits for the sound server when the mixer start-up found none, could not open it, or found
// no source on it yet (a desktop session whose server comes up after the recorder does): the
// start-up is tried again every 2 s, telling nobody, until it succeeds. The window stays
// open meanwhile, so that a show scheduled for later is still recorded once the server comes.
//
// Threads: the window's thread, which delivers its timer.
#pragma once

#include "recorder/mixer/mixer_startup.h"

#include <QObject>
#include <QTimer>

namespace kelvo {

class SoundServerWait : public QObject {
    Q_OBJECT

public:
    static constexpr int kRetryMs = 2000;

    // `device` and `state` must outlive the wait; each try fills `state` as startMixer does.
    SoundServerWait(MixerDevice& device, MixerState& state, QObject* parent = nullptr);

    // Starts waiting after a start-up that ended with `result`.
    void start(MixerStartup result);
    void stop() { timer_.stop(); }
    bool waiting() const { return timer_.isActive(); }
    // How the last try ended.
    MixerStartup lastResult() const { return last_; }
    // One more try while waiting; the timer calls it every kRetryMs.
    void retry();

signals:
    // The mixer has started: the sources can be filled. The wait is over.
    void answered();
    // A try failed again; lastResult() says how.
    void stillAway();

private:
    MixerDevice& device_;
    MixerState& state_;
    QTimer timer_;
    MixerStartup last_ = MixerStartup::Ready;
};

} // namespace kelvo
