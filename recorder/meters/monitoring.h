// Source monitoring: runs the capture engine without a file so the meters move while idle,
// for one minute at most after the Monitor Source box (Check1) is ticked.
//
// All calls and ticks come from the window's thread. The engine is shared with recording:
// a recording stops monitoring before it starts the engine.
#pragma once

#include "recorder/recording/program_texts.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QCheckBox;
class QTimer;

namespace kelvo {

class CaptureEngine;
class MeterPoll;

class Monitoring : public QObject {
    Q_OBJECT

public:
    // What monitoring needs from the rest of the window. Empty hooks do nothing; an empty
    // isRecording means no recording runs; an empty showMessage shows a modal message box
    // without an icon over the Monitor Source box's window.
    struct Hooks {
        // Set recording selection: switches the mixer to the selected source (called with 1).
        std::function<void(int value)> setRecordingSelection;
        // Set source volume with the device level of the input-level slider's position.
        std::function<void()> applyInputLevel;
        // The recording flag is 1.
        std::function<bool()> isRecording;
        MessageSink showMessage;
    };

    // Takes the Monitor Source box (Check1) and the monitoring limit timer (Timer8). Sets the
    // timer's interval to one minute and connects the box's changes (by the user or by the
    // program) to monitorBoxChanged() and the timer's tick to limitTimerTick(); do not
    // connect them again. Starts off: monitoring flag 0.
    Monitoring(CaptureEngine& engine, MeterPoll& meters, QCheckBox& monitorBox, QTimer& limitTimer,
               Hooks hooks, QObject* parent = nullptr);

    // Selects the source, applies the input level, clears the meters, starts the engine at
    // 8000 Hz 16-bit stereo without a file and starts the meter timers. Nothing when already
    // monitoring. An engine that is busy is reported and monitoring still counts as running
    // (the meters show silence); an engine library that cannot be loaded is reported and
    // monitoring does not start. Returns whether monitoring runs.
    bool startMonitoring();
    // Stops the meter timers and the engine and clears the meters. Nothing when not monitoring.
    void stopMonitoring();

    // Check1 changed. Ticking it again while the minute runs starts a new minute.
    void monitorBoxChanged();
    // Timer8 fired: it fires once per ticking of the box.
    void limitTimerTick();

    bool isMonitoring() const { return monitoring_; }

private:
    bool startEngine();
    // Tells the user about a failed engine call; false when the engine library is missing.
    bool reportFailure(int result);
    bool isRecording() const;

    CaptureEngine& engine_;
    MeterPoll& meters_;
    QCheckBox& monitorBox_;
    QTimer& limitTimer_;
    Hooks hooks_;
    bool monitoring_ = false;
};

} // namespace kelvo
