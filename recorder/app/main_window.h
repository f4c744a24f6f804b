// The recorder's one window (Form1): every control, the start-up and shutdown sequences,
// the clock tick and the two width toggles.
//
// Everything runs on this window's thread: control handlers and the QTimers below are
// delivered by its event loop one after another, so no state here needs a lock.
//
// Subsystems built elsewhere (mixer, meters, monitoring, shows, schedule) plug in through
// WindowHooks, set between construction and startUp(), and reach the controls through
// controls() (or findChild by object name). A hook left empty is skipped: that subsystem
// is simply not there yet, and nothing pretends it is.
#pragma once

#include "recorder/recording/capture_engine.h"
#include "recorder/recording/process_launcher.h"
#include "recorder/recording/recording_controller.h"
#include "recorder/recording/recording_names.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTimeEdit>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

namespace kelvo {

struct MainWindowServices {
    CaptureEngine* engine = nullptr;
    ProcessLauncher* launcher = nullptr;
    MessageSink messages;  // empty: a modal message box titled "KelvoRecorder"
    LocalClock clock;      // empty: the system's local time
    QString programFolder; // holds the program, the engine library and encoder.bat
    QString dataFolder;    // holds configurations/ and soundfiles/
};

struct WindowHooks {
    // Start-up, in this order after the defaults are set.
    std::function<void()> associateFileType; // shows: register the ".cia" type
    std::function<bool()> startMixer;        // mixer: false ends the program at once
    std::function<void()> initializeSources; // mixer: InitializeSources
    std::function<void()> clearLevelMeters;  // meters: also at every start and stop
    std::function<void()> loadCurrentShow;   // shows: command-line show or "Default"
    std::function<void()> selectCurrentShow; // shows: select it in File1

    // Shutdown, after a running recording was stopped.
    std::function<void()> stopMonitoring;  // monitoring: also before a recording starts
    std::function<void()> saveCurrentShow; // shows: saveconfig

    // Recording.
    std::function<void()> applySourceSelection; // mixer: record from Combo5's entry
    std::function<QString()> sourceName;        // mixer; default: Combo5's text
    std::function<QString()> currentShowName;   // shows; default: "Default"

    // Clock tick, after the clock label shows `now`.
    std::function<void(const QDateTime& now)> scheduleTick; // schedule

    // A file dropped on the window; drops are refused while this is empty.
    std::function<void(const QString& path)> openDroppedFile; // shows
};

// Typed access to the controls, named as on the window.
struct MainWindowControls {
    QLabel* label1;                     // clock label
    QLabel* label6;                     // status line
    QTimeEdit* dtPicker1;               // start time
    QTimeEdit* dtPicker3;               // stop time
    QPushButton* command1;              // Rec
    QPushButton* command2;              // Stop
    QPushButton* command3;              // Pause
    QPushButton* command4;              // expand to the settings width
    QPushButton* command5;              // expand to the full width
    QPushButton* command6;              // delete show
    std::array<QCheckBox*, 7> weekdays; // Check2 (Sunday) .. Check8 (Saturday)
    QCheckBox* check1;                  // Monitor Source
    QWidget* picture1;                  // left meter
    QWidget* picture2;                  // right meter
    QWidget* picture3;                  // meter image holders, never shown
    QWidget* picture4;
    QSlider* slider1;   // input level, 0 (loudest) at the top
    QComboBox* combo1;  // sample rate
    QComboBox* combo2;  // output format
    QComboBox* combo3;  // channels
    QComboBox* combo4;  // MP3 quality
    QComboBox* combo5;  // source
    QComboBox* combo6;  // WMA quality
    QListWidget* file1; // show list
    QLineEdit* text1;   // show name, hidden until edited
    QLineEdit* text4;   // webcast address
    QTimer* timer1;     // clock tick, 1000 ms
    QTimer* timer2;     // meter poll, 50 ms
    QTimer* timer3;     // right peak hold, 2000 ms
    QTimer* timer4;     // left peak hold, 2000 ms
    QTimer* timer5;     // blink, 1000 ms
    QTimer* timer8;     // monitoring limit, 60000 ms
};

class MainWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kCompactWidthTwips = 2490;
    static constexpr int kSettingsWidthTwips = 5790;
    static constexpr int kFullWidthTwips = 9420;

    explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Runs the start-up sequence. False: the program must end now (no usable mixer).
    bool startUp();

    WindowHooks& hooks() { return hooks_; }
    const MainWindowControls& controls() const { return controls_; }
    RecordingController& recording() { return *recording_; }
    const MainWindowServices& services() const { return services_; }

    void clockTick();
    void toggleSettingsWidth();
    void toggleFullWidth();
    // Re-reads File1 from the configurations folder.
    void refreshShowList();
    // The enabling rule of Combo2, Combo4 and Combo6; show loading runs it after loading.
    void updateFormatDependentLists();

    int toPixels(double twips) const;
    // " h:mm:ss AM": the clock label's text for a moment.
    static QString clockText(const QTime& time);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildControls();
    void buildClockPanel(QFrame* frame);
    void buildTransportPanel(QFrame* frame);
    void buildStatusPanel(QFrame* frame);
    void buildWeekdayPanel(QFrame* frame);
    void buildSourcePanel(QFrame* frame);
    void buildShowPanel(QFrame* frame);
    void buildOutputPanel(QFrame* frame);
    void buildHiddenControls();
    void buildTimers();
    void createRecordingController();
    void connectHandlers();
    void applyDefaults();
    void stopAllTimersButTheClock();
    void setOuterWidth(int twips);
    void showMessage(const QString& text);
    QDateTime now() const;
    void call(const std::function<void()>& hook) const;

    QFrame* panel(const char* name, int left, int top, int width, int height);
    template <typename Widget>
    Widget* place(Widget* widget, const char* name, int left, int top, int width, int height);

    MainWindowServices services_;
    WindowHooks hooks_;
    MainWindowControls controls_{};
    std::unique_ptr<RecordingController> recording_;
    double dpi_ = 96.0;
    int settingsWidthOpen_ = 0;
    int fullWidthOpen_ = 0;
    bool shutDown_ = false;
};

} // namespace kelvo
