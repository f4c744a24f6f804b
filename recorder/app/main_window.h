// The recorder's one window (Form1): every control, the start-up and shutdown sequences,
// the clock tick and the two width toggles. It owns the subsystems and connects them: the
// current show and its binding to the controls, the recording controller, the mixer's
// recording sources, the level meters and monitoring, the scheduler and the show panel.
//
// Everything runs on this window's thread: control handlers and the QTimers below are
// delivered by its event loop one after another, so no state here needs a lock.
#pragma once

#include "recorder/app/login_start.h"
#include "recorder/app/main_window_form.h"
#include "recorder/app/show_binding.h"
#include "recorder/meters/meter_poll.h"
#include "recorder/meters/monitoring.h"
#include "recorder/mixer/mixer_device.h"
#include "recorder/mixer/mixer_startup.h"
#include "recorder/mixer/recording_sources.h"
#include "recorder/mixer/sound_server_wait.h"
#include "recorder/platform/capture_engine.h"
#include "recorder/platform/desktop_notifier.h"
#include "recorder/platform/process_launcher.h"
#include "recorder/platform/sleep_inhibitor.h"
#include "recorder/recording/recording_controller.h"
#include "recorder/recording/recording_names.h"
#include "recorder/recording/stream_probe.h"
#include "recorder/schedule/scheduler.h"
#include "recorder/shows/file_association.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QTimeEdit>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvo {

class ShowPanel;
class ShowFolderSchedules;
class RecordingsWindow;

struct MainWindowServices {
    CaptureEngine* engine = nullptr;
    ProcessLauncher* launcher = nullptr;
    MixerDevice* mixer = nullptr;        // the sound server's mixer
    DesktopRegistry* desktop = nullptr;  // where ".cia" is associated; null: the user's desktop
    MessageSink messages;                // empty: a modal message box titled "KelvoRecorder"
    CriticalMessage mixerErrors;         // empty: a modal critical message box
    LocalClock clock;                    // empty: the system's local time
    QString programFolder;               // holds the program, the engine library and encoder.bat
    QString dataFolder;                  // holds configurations/ and soundfiles/
    std::vector<std::string> arguments;  // the command line after the program's name
    DesktopNotifier* notifier = nullptr; // null: the desktop's notification service
    SleepInhibitor* inhibitor = nullptr; // null: logind
    FreeSpaceProbe freeSpace = {};       // empty: statvfs
    // Told each message while the session ends (endSession), after standard error: where a
    // desktop notification plugs in. Empty: the notifier.
    MessageSink endOfSessionNotices = {};
    // Webcast addresses are looked at over the network, to suggest recording a stream
    // itself; off for the window's tests, whose addresses lead nowhere.
    bool lookAtWebcastAddresses = true;
};

class MainWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kCompactWidthTwips = 2490;
    static constexpr int kSettingsWidthTwips = 5790;
    static constexpr int kFullWidthTwips = 9420;

    // services.engine, launcher and mixer must be set and outlive the window.
    explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // While the mixer cannot start (no sound server yet) the status line says this; the
    // start-up is tried again every few seconds and fills the sources when it succeeds.
    static inline const QString kWaitingForServer =
        QString::fromUtf8("Waiting for the sound server\u2026");
    // A start by the user with no sound server after this long, and no show due within
    // kShowDueSeconds, ends the program with the mixer start-up's message.
    static constexpr std::int64_t kServerWaitSeconds = 10;
    static constexpr std::int64_t kShowDueSeconds = 3600;

    // Runs the start-up sequence. Without a sound server the window still opens and waits for
    // it; endRequested() tells when the program is to end instead.
    void startUp();
    bool waitingForSoundServer() const { return serverWait_->waiting(); }
    SoundServerWait& soundServerWait() { return *serverWait_; }

    const MainWindowControls& controls() const { return controls_; }
    const MainWindowServices& services() const { return services_; }
    RecordingController& recording() { return *recording_; }
    Monitoring& monitoring() { return *monitoring_; }
    ShowPanel& shows() { return *shows_; }
    // The Recordings window, made when first opened; null until then.
    RecordingsWindow* recordingsWindow() { return recordingsWindow_.get(); }
    void openRecordings();
    CurrentShow& currentShow() { return show_; }
    RecordingSources& sources() { return *sources_; }

    // Fills the source list and presets it, the input level and the webcast address.
    void InitializeSources();
    // Saves the current show.
    void saveconfig();

    void clockTick();
    // "Record every show on its schedule", kept in the user's settings.
    bool recordEveryShow() const;
    void setRecordEveryShow(bool on);
    // A later start's command line: loads its show as a drop would and raises the window.
    // Both as the other start's bytes: its arguments, and the folder relative paths start from.
    void openHandedOver(const QByteArrayList& arguments, const QByteArray& workingFolder);
    void toggleSettingsWidth();
    void toggleFullWidth();
    // The enabling rule of Combo2, Combo4 and Combo6; show loading runs it after loading.
    void updateFormatDependentLists();
    // A message with only an OK button, titled "KelvoRecorder"; returns once acknowledged.
    // While the session ends it goes to standard error instead and returns at once.
    void showMessage(const QString& text);
    // News that waits for nobody: the status line (unless a recording holds it) and a
    // notification.
    void tell(const QString& text);
    // Closes the window for a termination signal: the recording is completed and the show
    // saved as on any close, but nothing waits for a click: boxes already open are
    // dismissed and later messages are reported, not shown.
    void endSession();

    int toPixels(double twips) const;
    // " h:mm:ss AM": the clock label's text for a moment.
    static QString clockText(const QTime& time);

signals:
    // The program is to end with `exitCode`: no sound server came and nothing is due. The
    // user has been told; nothing is saved.
    void endRequested(int exitCode);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createRecordingController();
    void createLevelMonitoring();
    void createShowPanel();
    void connectHandlers();
    void applyDefaults();
    void associateFileType();
    void stopAllTimersButTheClock();
    // Waits for the sound server until it answers; after kServerWaitSeconds, gives up with
    // the mixer's message unless a show is due.
    void waitForSoundServer(MixerStartup first);
    void soundServerAnswered();
    void soundServerStillAway();
    // A show in configurations (or the one on screen) is under way or starts within
    // kShowDueSeconds, or every show is recorded on its schedule.
    bool showDueSoon() const;
    void setOuterWidth(int twips);
    QDateTime now() const;
    void createEveryShowSchedule();
    void startRecording();
    // The show the running recording belongs to, or a scheduled start is still tried for;
    // empty when none.
    std::string recordingShowName() const;
    // The show whose scheduled start comes within two minutes, as the user reads it; empty
    // when none does.
    QString showStartingSoon(std::time_t now) const;
    void showNotRecorded(const std::string& message);
    // An address typed into the box that will not be opened is said so on the status line.
    void checkTypedWebcastAddress();
    void showShowListMenu(const QPoint& at);
    void updateNextStartHint(std::time_t now);
    // The current show and its schedule as the controls show it: what the scheduler is fed.
    void feedCurrentShow();
    Schedule currentSchedule() const;
    // The current show's page webcast, when its "Open the address N s before the start"
    // reaches its next scheduled start.
    void openWebcastAhead(std::time_t now);
    // Looks whether the current show's address, recorded through the browser, is a stream
    // the engine could record itself, and suggests it once.
    void lookAtWebcastAddress();
    void suggestStream(const QString& address, StreamKind kind);

    MainWindowServices services_;
    MainWindowControls controls_{};
    std::unique_ptr<DesktopNotifier> ownNotifier_;
    std::unique_ptr<SleepInhibitor> ownInhibitor_;
    CurrentShow show_;
    MixerState mixer_; // filled when the mixer starts
    std::unique_ptr<RecordingSources> sources_;
    std::unique_ptr<ShowBinding> binding_;
    std::unique_ptr<RecordingController> recording_;
    std::unique_ptr<MeterPoll> meters_;
    std::unique_ptr<Monitoring> monitoring_;
    std::unique_ptr<ShowPanel> shows_;
    std::unique_ptr<SoundServerWait> serverWait_;
    QDateTime waitingSince_;
    class ScheduledWindow; // what the scheduler starts and stops
    std::unique_ptr<ScheduledWindow> scheduledWindow_;
    std::unique_ptr<Scheduler> scheduler_;
    LoginStart* loginStart_ = nullptr;
    ShowFolderSchedules* showFolder_ = nullptr;
    StreamProbe* streamProbe_ = nullptr;
    QSet<QString> streamSuggested_; // addresses already suggested to record as streams
    QAction* recordEveryShowAction_ = nullptr;
    QAction* deleteShowAction_ = nullptr;
    QAction* recordingsAction_ = nullptr;
    std::unique_ptr<RecordingsWindow> recordingsWindow_;
    QString captionSuffix_;                                           // " - Next: ..." while idle
    std::optional<std::pair<QByteArrayList, QByteArray>> handedOver_; // before start-up ended
    double dpi_ = 96.0;
    bool settingsWidthOpen_ = false;
    bool fullWidthOpen_ = false;
    bool startedUp_ = false;
    bool shutDown_ = false;
    bool endingSession_ = false;
};

} // namespace kelvo
