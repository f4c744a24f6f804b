// The logic behind Rec, Stop and Pause: owns the recorder state, drives the capture engine,
// writes and blinks the status line, names the file and hands MP3 recordings to the encoder.
// While a recording runs it polls the engine's status once a second and tells the user,
// in the status line and by desktop notification, about a lost device, its gap, a full
// disk and a recording stopped by a write error; it holds off sleep until the stop.
//
// Everything runs on the window's thread (buttons, timers, the schedule), one handler after
// another, so the state needs no lock. The controller acts on the widgets it is given and
// reaches the mixer, the meters and monitoring only through RecordingHooks and its two
// signals, so those modules plug in without the controller knowing them.
#pragma once

#include "recorder/platform/capture_engine.h"
#include "recorder/platform/desktop_notifier.h"
#include "recorder/platform/free_space.h"
#include "recorder/platform/process_launcher.h"
#include "recorder/platform/sleep_inhibitor.h"
#include "recorder/recording/encoder_queue.h"
#include "recorder/recording/format_lists.h"
#include "recorder/recording/program_texts.h"
#include "recorder/recording/recording_names.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvo {

struct RecorderState {
    bool recording = false; // from a successful start until stop
    bool paused = false;
    QString savedStatus;     // the status line as it was before pausing
    bool blinkPhase = false; // carried across recordings on purpose
    int sampleRate = 0;
    int channels = 0;
    QString outputFormat;
    QString mp3Quality;
    QString fileName; // relative to the data folder, "/" separated
    QString filePath;
    QString webcastAddress; // opened through the shell at the start; empty when refused
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

struct RecordingSetup {
    QString dataFolder;                      // holds soundfiles/; the encoder runs there
    std::vector<std::string> encoderFolders; // searched for encoder.bat, never PATH
    DesktopNotifier* notifier = nullptr;     // null: no notifications
    SleepInhibitor* inhibitor = nullptr;     // null: sleep is not held off
    FreeSpaceProbe freeSpace;                // empty: statvfs
};

class RecordingController : public QObject {
    Q_OBJECT

public:
    // "Cannot create the recording file PATH: REASON"
    static QString createFileMessage(const QString& path, int error);
    // Why writing failed, in a few words: "disk full" for ENOSPC.
    static QString writeErrorText(int error);
    // "1.5 s" for a gap, "0:14:02" for a recording's length.
    static QString gapText(std::uint64_t frames, int sampleRate);
    static QString lengthText(std::int64_t seconds);

    static inline const QString kEngineMessage = QString::fromLatin1(kEngineBusyMessage);

    RecordingController(CaptureEngine& engine, ProcessLauncher& launcher,
                        const RecordingWidgets& widgets, RecordingHooks hooks, MessageSink messages,
                        LocalClock clock, RecordingSetup setup);

    static constexpr int kStatusPollMs = 1000;
    // While the device is away: the engine retries every 250 ms, the source must be set first.
    static constexpr int kReconnectPollMs = 100;
    // A recording by hand is expected to need this much room.
    static constexpr int kHandRecordingSeconds = 3600;
    // Less room than this while recording is warned about, once.
    static constexpr int kLowSpaceSeconds = 300;

    // The Rec button.
    void startRecording();
    // The schedule's start: as Rec, and the user is notified, since nobody may be watching;
    // room on the disk is judged for the seconds until the scheduled stop.
    void startScheduledRecording(std::int64_t secondsUntilStop);
    void stopRecording();
    // Holds off sleep while a scheduled start is near (soon), lets go when it no longer is.
    // A running recording keeps its own hold either way.
    void keepAwakeForSchedule(bool soon);
    // One look at the engine's status: the device, a write error, the room left.
    void pollStatus();
    void togglePause();
    void setRecordingState(bool recording);
    void blinkTick();

    const RecorderState& state() const { return state_; }
    bool isRecording() const { return state_.recording; }

    // Replaces a hook later, once the module that provides it exists.
    RecordingHooks& hooks() { return hooks_; }

signals:
    // A recording started, or a start while one runs asked for its timers again: the meters
    // follow it.
    void recordingStarted();
    // The recording stopped; the meters stop polling, their hold marks still fall back.
    void recordingStopped();

private:
    // What a recording in progress has met, reset at every start.
    struct Watch {
        bool scheduled = false;
        bool deviceAway = false;
        bool lowSpaceWarned = false;
        std::uint32_t gapsSeen = 0;
        QString note; // shown in brackets after the source on the status line
        QDateTime startedAt;
    };

    void start(bool scheduled, std::int64_t expectedSeconds);
    void readRecordingSettings();
    void prepareSourceAndMeters();
    bool startEngine();
    void failStart(const QString& message);
    void enterRecording();
    void openWebcast();
    void showRecordingStatus();
    // Tells, in the status line and the desktop, when the disk holds less than `seconds` of
    // this recording: at the start the show's length, later the last few minutes.
    void checkRoom(std::int64_t seconds);
    std::optional<std::uint64_t> freeBytes() const;
    std::uint64_t bytesPerSecond() const;
    void stop(int writeError);
    void enableRecordingTimers();
    void handOffToEncoder(int parts);
    void notify(const QString& summary, const QString& body = {}) const;
    QString showName() const;
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
    Watch watch_;
    QString statusPrefix_; // "Rec: " or "Rec WebCast: "
    QTimer statusPoll_;
    EncoderQueue encoders_;
    bool awakeForSchedule_ = false;
};

} // namespace kelvo
