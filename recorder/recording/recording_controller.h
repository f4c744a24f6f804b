// The logic behind Rec, Stop and Pause: owns the recorder state, drives the capture engine,
// writes and blinks the status line, names the file and hands MP3 recordings to the encoder.
//
// Everything runs on the window's thread (buttons, timers, the schedule), one handler after
// another, so the state needs no lock. The controller acts on the widgets it is given and
// reaches the mixer, the meters and monitoring only through RecordingHooks, so those
// modules plug in without the controller knowing them.
#pragma once

#include "recorder/recording/capture_engine.h"
#include "recorder/recording/format_lists.h"
#include "recorder/recording/process_launcher.h"
#include "recorder/recording/recording_names.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace kelvo {

struct RecorderState {
    int recording = 0; // 1 from a successful start until stop
    bool paused = false;
    QString savedStatus;     // the status line as it was before pausing
    bool blinkPhase = false; // carried across recordings on purpose
    int sampleRate = 0;
    int channels = 0;
    QString outputFormat;
    QString mp3Quality;
    QString fileName; // relative to the data folder, "/" separated
    QString filePath;
    QString webcastAddress; // opened through the shell when the recording started
};

struct RecordingWidgets {
    QLabel* status;          // Label6
    QLabel* clock;           // Label1
    QComboBox* sampleRate;   // Combo1
    QComboBox* outputFormat; // Combo2
    QComboBox* channels;     // Combo3
    QComboBox* mp3Quality;   // Combo4
    QLineEdit* webcast;      // Text4
    QCheckBox* monitor;      // Check1
    QTimer* meterPoll;       // Timer2
    QTimer* rightPeakHold;   // Timer3
    QTimer* leftPeakHold;    // Timer4
    QTimer* blink;           // Timer5
};

// What the controller needs from other subsystems. An empty function is skipped (the
// source name then reads as empty and the show as the default one).
struct RecordingHooks {
    std::function<void()> stopMonitoring;       // monitoring: before the engine is taken over
    std::function<void()> applySourceSelection; // mixer: record from the chosen source
    std::function<void()> clearLevelMeters;     // meters: blank both bars
    std::function<QString()> sourceName;        // mixer: name of the selected source entry
    std::function<QString()> currentShowName;   // shows: begins every recording's name
    // The program-wide webcast address lives with the held mixer settings; every start
    // refreshes it from the webcast address box.
    std::function<void(const QString& address)> holdWebcastAddress;
};

// Shows a message to the user and returns when it was acknowledged; tests collect them.
using MessageSink = std::function<void(const QString& text)>;

struct RecordingSetup {
    QString dataFolder;                      // holds soundfiles/; the encoder runs there
    std::vector<std::string> encoderFolders; // searched for encoder.bat before PATH
};

class RecordingController {
public:
    static inline const QString kEngineMessage =
        QStringLiteral("KelvoInitializeMonitor: Audio Channel is in use by another Application");

    RecordingController(CaptureEngine& engine, ProcessLauncher& launcher,
                        const RecordingWidgets& widgets, RecordingHooks hooks, MessageSink messages,
                        LocalClock clock, RecordingSetup setup);

    void startRecording();
    void stopRecording();
    void togglePause();
    void setRecordingState(int value);
    void blinkTick();

    const RecorderState& state() const { return state_; }
    bool isRecording() const { return state_.recording == 1; }

    // Replaces a hook later, once the module that provides it exists.
    RecordingHooks& hooks() { return hooks_; }

private:
    void readRecordingSettings();
    void prepareSourceAndMeters();
    bool startEngine();
    void enterRecording();
    void enableRecordingTimers();
    void handOffToEncoder();
    void setColour(const QColor& colour);
    QString sourceName() const;
    void call(const std::function<void()>& hook) const;

    CaptureEngine& engine_;
    ProcessLauncher& launcher_;
    RecordingWidgets widgets_;
    RecordingHooks hooks_;
    MessageSink messages_;
    LocalClock clock_;
    RecordingSetup setup_;
    RecorderState state_;
    bool starting_ = false; // a start is waiting on a message box
};

} // namespace kelvo
