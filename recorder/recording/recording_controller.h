// The logic behind Rec, Stop and Pause: keeps the recording session, drives the capture
// engine, writes and blinks the status line, names the file and hands MP3 recordings to the
// encoder. While a recording runs it polls the engine's status once a second and tells the
// user, in the status line and by desktop notification, about a lost device, its gap, a full
// disk and a recording stopped by a write error; it holds off sleep until the stop.
//
// A scheduled start that fails because the device or the sound server is away (a server
// restarting across the start, or not there yet) is tried again every 2 s until it takes or
// the show's stop passes; nobody is asked anything meanwhile. The recording it makes is
// marked late by the time lost.
//
// A start is given the show to record as it stands (a snapshot); from then on the session
// alone says what is being recorded, so loading another show meanwhile changes nothing that
// is told about this recording.
//
// A stream's start connects before the engine answers, which may take seconds: it runs on a
// thread of its own (BackgroundStart) and the start goes on when the answer is back; until
// then the status line says it is connecting, a Stop (or the show's stop, or the program's
// end) cancels it, and no other start is taken; one after the Stop (the next show's) waits
// for the engine to be free.
//
// Everything else runs on the window's thread (buttons, timers, the schedule), one handler
// after another, so the state needs no lock. The mixer is reached through SourceSelection; the
// meters and monitoring follow the controller's signals.
#pragma once

#include "recorder/mixer/source_selection.h"
#include "recorder/platform/capture_engine.h"
#include "recorder/platform/desktop_notifier.h"
#include "recorder/platform/free_space.h"
#include "recorder/platform/process_launcher.h"
#include "recorder/platform/sleep_inhibitor.h"
#include "recorder/recording/background_start.h"
#include "recorder/recording/encoder_queue.h"
#include "recorder/recording/format_lists.h"
#include "recorder/recording/program_texts.h"
#include "recorder/recording/recording_names.h"
#include "recorder/recording/recording_report.h"
#include "recorder/recording/recording_session.h"
#include "recorder/recording/recording_supervisor.h"

#include <QLabel>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvo {

struct RecordingWidgets {
    QLabel* status; // Label6
    QLabel* clock;  // Label1
    QTimer* blink;  // Timer5
};

struct RecordingSetup {
    QString dataFolder;                      // holds soundfiles/; the encoder runs there
    std::vector<std::string> encoderFolders; // searched for encoder.bat, never PATH
    DesktopNotifier* notifier = nullptr;     // null: no notifications
    SleepInhibitor* inhibitor = nullptr;     // null: sleep is not held off
    FreeSpaceProbe freeSpace;                // empty: statvfs
    // An encoder running longer than this (or four times its recording) is told as slow.
    std::int64_t encoderPatienceSeconds = EncoderQueue::kPatienceSeconds;
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
    // "6 s", "5 min", "1 h 5 min": how late a start is.
    static QString lostText(std::int64_t seconds);
    // Why a stream could not be recorded, for an engine code; empty for a code that is not
    // the stream's.
    static QString streamFailure(int code, const QString& address);

    static inline const QString kEngineMessage = QString::fromLatin1(kEngineBusyMessage);

    // `sources` may be null: nothing is selected and the source reads as empty.
    RecordingController(CaptureEngine& engine, ProcessLauncher& launcher,
                        const RecordingWidgets& widgets, SourceSelection* sources,
                        MessageSink messages, LocalClock clock, RecordingSetup setup);
    // Parts whose encoder has not started yet are started now, unwatched, and their reports
    // say so.
    ~RecordingController() override;

    static constexpr int kStatusPollMs = 1000;
    // While the device is away the engine retries every 250 ms; the status is read as often.
    static constexpr int kReconnectPollMs = 100;
    static constexpr int kStartRetryMs = 2000;
    // How long a Stop waits for a cancelled connection to give up, so that a start right
    // after it (the next show's) finds the engine free.
    static constexpr int kCancelWaitMs = 300;
    // How often the window looks for a stream's connection to be done.
    static constexpr int kConnectPollMs = 50;
    // A recording by hand is expected to need this much room.
    static constexpr int kHandRecordingSeconds = 3600;
    // Less room than this while recording is warned about, once.
    static constexpr int kLowSpaceSeconds = 300;

    // The Rec button, recording `show`. A start while a recording runs only asks for the
    // recording's timers again.
    void startRecording(const ShowSnapshot& show);
    // The schedule's start: as Rec, and the user is notified, since nobody may be watching;
    // room on the disk is judged for the seconds until the scheduled stop.
    // A late start says so, with `late`'s notice, in the notification and the session.
    void startScheduledRecording(const ShowSnapshot& show, std::int64_t secondsUntilStop,
                                 const LateStart& late = {});
    // Ends the recording; `how` goes into its report (a write error finds its own way).
    void stopRecording(RecordingEnd how = RecordingEnd::ByHand);
    // Holds off sleep while a scheduled start of `show` is near, lets go when none is (an
    // empty name). A running recording keeps its own hold either way.
    void keepAwakeForSchedule(const QString& show);
    // The schedule opens the page webcast of `show`, which starts at `startsAt`, ahead of its
    // start, so that the browser plays when the recording begins; that start then does not
    // open it again. Once per start; nothing while a recording runs.
    void openWebcastAhead(const ShowSnapshot& show, const QDateTime& startsAt);
    // One look at the engine's status: the device, a write error, the room left.
    void pollStatus();
    // Tries a scheduled start that failed for want of the device again, now; the retry
    // timer calls it every kStartRetryMs. Gives up once the show's stop has passed.
    void retryStart();
    // The show a failed scheduled start is being tried again for; null when none is.
    const ShowSnapshot* retryingShow() const { return retry_ ? &retry_->show : nullptr; }
    // The show whose start waits for its stream's connection; null when none does, or once
    // it is stopped.
    const ShowSnapshot* connectingShow() const {
        return pending_ && !pending_->cancelled ? &pending_->session.show : nullptr;
    }
    void togglePause();
    void blinkTick();

    // The running recording, else the last one (its file stays named after the stop); null
    // before the first start.
    const RecordingSession* session() const { return session_ ? &*session_ : nullptr; }
    bool isRecording() const { return session_ && session_->running(); }
    // The running recording's report as it would be if it stopped now; none while idle.
    std::optional<RecordingReport> reportSoFar() const;

signals:
    // A start is about to take the engine: monitoring stops, the meters are cleared.
    void engineWanted();
    // The start failed after engineWanted(): the engine is free again.
    void startFailed();
    // A recording started, or a start while one runs asked for its timers again: the meters
    // follow it.
    void recordingStarted();
    // The recording stopped; the meters stop polling, their hold marks still fall back, and
    // the engine is free again.
    void recordingStopped();

private:
    // A scheduled start that failed for want of the device, tried again until its stop.
    struct Retry {
        ShowSnapshot show;
        LateStart late;
        QDateTime due;    // when the first try was made
        QDateTime stopAt; // the show's stop: no try after it
    };
    struct StartFailure {
        QString message;
        bool deviceAway = false; // the device or server is not there: worth trying again
    };
    // A start on its way: the session it makes, and how the recording began.
    struct PendingStart {
        RecordingSession session;
        RecordingStart startedBy = RecordingStart::ByHand;
        std::int64_t expectedSeconds = 0;
        QDateTime due;       // when the start was first tried
        std::string refusal; // why the webcast address was not opened; empty: it was
        bool cancelled = false;
        QString lineBefore;                   // the status line before it said "connecting"
        QStringList keptBeside;               // files beside the recording from before it
        std::unique_ptr<BackgroundStart> run; // the stream's connection under way
    };

    void start(const ShowSnapshot& show, RecordingStart startedBy, std::int64_t expectedSeconds,
               const LateStart& late = {});
    // One try; true when the recording runs (a stream may still be connecting: then false,
    // and connectingShow() says so). `due` is when the start was first tried.
    bool tryStart(const ShowSnapshot& show, RecordingStart startedBy, std::int64_t expectedSeconds,
                  const LateStart& late, const QDateTime& due);
    std::optional<StartFailure> startEngine(RecordingSession& session);
    // The show's stream, recorded by the engine: its connection is left under way, in
    // pending_. Anything that fails before is told; false then, or true when the show records
    // its source instead.
    bool startStream(PendingStart& start, bool keepCopy);
    // The engine's answer to a stream's start, `code` (and errno `error`); a page (or an
    // engine that cannot) records the show's source instead, told on the session. True when
    // the recording runs; false: the start failed, and was told.
    bool streamAnswered(PendingStart& start, int code, int error);
    // A stream the engine did not take (`code`): told, or recorded as a page's webcast.
    bool streamNotTaken(PendingStart& start, int code);
    // Ends a stream's start that failed; always false.
    bool streamFailed();
    // Goes on with a stream's start once the connection's answer is back.
    void streamConnected();
    // A Stop during the connection: nothing records, and nothing is left of the start.
    void cancelConnection(RecordingEnd how);
    void dropCancelled(PendingStart& start, int code, bool tell);
    // The recording runs: the session becomes the controller's, the start is told.
    void beginRecording(PendingStart& start);
    void failStart(const RecordingSession& session, const QString& message);
    void keepTrying(const RecordingSession& session, const QDateTime& due,
                    std::int64_t expectedSeconds);
    // Ends the retries; `why` (lower case, no full stop) is told as the start's failure.
    void giveUpStart(const QString& why);
    // The recording a retry started: late by `lost` seconds more, and why.
    void markLate(std::int64_t lost);
    void enterRecording();
    void openWebcast();
    void showRecordingStatus();
    // Tells, in the status line and the desktop, when the disk holds less than `seconds` of
    // this recording: at the start the show's length, later the last few minutes.
    void checkRoom(std::int64_t seconds);
    std::optional<std::uint64_t> freeBytes() const;
    std::uint64_t bytesPerSecond() const;
    void stop(int writeError, RecordingEnd how);
    void encoderOutcome(const EncoderOutcome& outcome);
    void enableRecordingTimers();
    void handOffToEncoder(const QString& reportPath, const RecordingReport& report);
    void notify(const QString& summary, const QString& body = {}) const;
    void setColour(const QColor& colour);
    QString sourceName() const;
    void applySourceSelection();

    CaptureEngine& engine_;
    ProcessLauncher& launcher_;
    RecordingWidgets widgets_;
    SourceSelection* sources_;
    MessageSink messages_;
    LocalClock clock_;
    RecordingSetup setup_;
    std::optional<RecordingSession> session_;
    std::optional<RecordingSupervisor> supervisor_; // watches session_ while it runs
    bool starting_ = false;                         // a start is waiting on a message box
    bool blinkPhase_ = false;                       // carried across recordings on purpose
    QString savedStatus_;                           // the status line as it was before pausing
    QString statusPrefix_;                          // "Rec: ", "Rec WebCast: " or "Rec Stream: "
    QTimer statusPoll_;
    std::optional<Retry> retry_;
    QTimer startRetry_;
    std::optional<PendingStart> pending_; // a stream's start while it connects
    QTimer connectPoll_;                  // looks for its answer
    EncoderQueue encoders_;
    std::map<QString, RecordingReport> reports_; // by their path: recordings still encoding
    std::optional<KelvoStatus> lastStatus_;      // the running recording's, at the last poll
    QString awakeForShow_; // the show whose scheduled start holds off sleep; empty: none
    struct OpenedAhead {
        std::string show;
        std::string address;
        QDateTime startsAt;
    };
    std::optional<OpenedAhead> openedAhead_; // the last address opened ahead of its start
};

} // namespace kelvo
