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
class SourceSelection;

// Owns the monitoring state and the Monitor Source box: Off, Monitoring, or lent to a
// recording (the box stays as it was but is locked, and nothing monitors). The recording
// controller's signals lend the engine and give it back.
class Monitoring : public QObject {
    Q_OBJECT

public:
    // Takes the Monitor Source box (Check1) and the monitoring limit timer (Timer8). Sets the
    // timer's interval to one minute and connects the box's changes (by the user or by the
    // program) to monitorBoxChanged() and the timer's tick to limitTimerTick(); do not
    // connect them again. Starts off. `sources` may be null (nothing is selected); an empty
    // showMessage shows a modal message box over the box's window.
    Monitoring(CaptureEngine& engine, MeterPoll& meters, QCheckBox& monitorBox, QTimer& limitTimer,
               SourceSelection* sources, MessageSink showMessage = {}, QObject* parent = nullptr);

    // Selects the source at its level, clears the meters, starts the engine at 8000 Hz
    // 16-bit stereo without a file and starts the meter timers. Nothing when already
    // monitoring. An engine that is busy is reported and monitoring still counts as running
    // (the meters show silence); an engine library that cannot be loaded is reported and
    // monitoring does not start. Returns whether monitoring runs.
    bool startMonitoring();
    // Stops the meter timers and the engine and clears the meters. Nothing when not monitoring.
    void stopMonitoring();

    // A recording takes the engine: monitoring stops, the box keeps its tick and is locked.
    void lendEngineToRecording();
    // The recording ended, or its start failed: the box is cleared and usable again.
    void engineReturned();

    // Check1 changed. Ticking it again while the minute runs starts a new minute.
    void monitorBoxChanged();
    // Timer8 fired: it fires once per ticking of the box.
    void limitTimerTick();

    bool isMonitoring() const { return monitoring_; }

private:
    bool startEngine();
    // Tells the user about a failed engine call; false when the engine library is missing.
    bool reportFailure(int result);

    CaptureEngine& engine_;
    MeterPoll& meters_;
    QCheckBox& monitorBox_;
    QTimer& limitTimer_;
    SourceSelection* sources_;
    MessageSink showMessage_;
    bool monitoring_ = false;
    bool lent_ = false; // a recording holds the engine
};

} // namespace kelvo
