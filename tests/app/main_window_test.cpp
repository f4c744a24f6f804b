#include "recorder/app/main_window.h"
#include "recorder/app/program_folders.h"
#include "recorder/app/twips.h"
#include "tests/recording/fake_capture_engine.h"
#include "tests/recording/fake_process_launcher.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace kelvo {
namespace {

using testing::FakeCaptureEngine;
using testing::FakeProcessLauncher;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest()
        : window({&engine, &launcher, [this](const QString& text) { messages << text; },
                  [this] { return now; }, programFolder.path(), dataFolder.path()}) {}

    template <typename Widget = QWidget> Widget* child(const char* name) {
        return window.findChild<Widget*>(QString::fromLatin1(name));
    }
    QStringList entries(const char* name) {
        QStringList texts;
        auto* combo = child<QComboBox>(name);
        for (int i = 0; i < combo->count(); ++i) {
            texts << combo->itemText(i);
        }
        return texts;
    }
    // Each hook notes its call in the engine's log, so one list tells the whole order.
    void logHooks() {
        WindowHooks& hooks = window.hooks();
        const auto log = [this](const char* what) {
            return [this, what] { engine.calls.push_back(what); };
        };
        hooks.associateFileType = log("associate");
        hooks.startMixer = [this] {
            engine.calls.push_back("mixer");
            return mixerWorks;
        };
        hooks.initializeSources = log("sources");
        hooks.clearLevelMeters = log("clearMeters");
        hooks.loadCurrentShow = log("loadShow");
        hooks.selectCurrentShow = log("selectShow");
        hooks.stopMonitoring = log("stopMonitoring");
        hooks.saveCurrentShow = log("saveShow");
    }
    int outerWidth() const { return window.frameGeometry().width(); }

    QTemporaryDir programFolder, dataFolder;
    FakeCaptureEngine engine;
    FakeProcessLauncher launcher;
    QStringList messages;
    QDateTime now{QDate(2004, 3, 5), QTime(21, 5, 3)};
    bool mixerWorks = true;
    MainWindow window;
};

struct ControlText {
    const char* name;
    const char* text;
    const char* tip;
};

TEST_F(MainWindowTest, EveryControlCarriesItsCaptionAndTooltip) {
    const ControlText expected[] = {
        {"Label1", "", "This is the current time"},
        {"Label11", "Start", ""},
        {"Label2", "Stop", ""},
        {"Command1", "Rec", "Starts recording now."},
        {"Command2", "Stop", "Immediately Stops the current Recording."},
        {"Command3", "| |", "Pauses the current recording. Hit again to resume."},
        {"Command4", ">>", ""},
        {"Command5", ">>", ""},
        {"Command6", "X", ""},
        {"Label6", "Idle", ""},
        {"Check1", "Monitor Source", ""},
        {"Check2", "S", "Check this to record on Sunday"},
        {"Check3", "M", "Check this to record on Monday"},
        {"Check4", "T", "Check this to record on Tuesday"},
        {"Check5", "W", "Check this to record on Wednesday"},
        {"Check6", "T", "Check this to record on Thursday"},
        {"Check7", "F", "Check this to record on Friday"},
        {"Check8", "S", "Check this to record on Saturday"},
        {"Label3", "Source", ""},
        {"Label4", "Sample Rate", ""},
        {"Label12", "Channels", ""},
        {"Label5", "Show:", ""},
        {"Label9", "Output Format", ""},
        {"Label10", "MP3 Quality", ""},
        {"Label7", "WebCast Address", ""},
        {"Label8", "WMA Quality", ""},
    };
    for (const ControlText& control : expected) {
        SCOPED_TRACE(control.name);
        QWidget* widget = child(control.name);
        ASSERT_NE(widget, nullptr);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), control.text);
        } else {
            EXPECT_EQ(qobject_cast<QAbstractButton*>(widget)->text(), control.text);
        }
        EXPECT_EQ(widget->toolTip(), control.tip);
    }
}

TEST_F(MainWindowTest, InputControlsCarryTheirEntriesAndTooltips) {
    EXPECT_EQ(entries("Combo1"),
              QStringList({"8 kHz", "11 kHz", "22 kHz", "32 kHz", "44.1 kHz (CD)", "48 kHz"}));
    EXPECT_EQ(entries("Combo2"), QStringList({"Windows Wave (WAV)", "MPEG Layer 3 (MP3)"}));
    EXPECT_EQ(entries("Combo3"), QStringList({"1", "2"}));
    EXPECT_EQ(entries("Combo4").size(), 15);
    EXPECT_EQ(entries("Combo4").front(), "16 Kb/sec");
    EXPECT_EQ(entries("Combo4").back(), "320 Kb/sec");
    EXPECT_TRUE(entries("Combo5").isEmpty()) << "the mixer fills it";
    EXPECT_TRUE(entries("Combo6").isEmpty());
    EXPECT_EQ(child("Combo1")->toolTip(),
              "This is the sample rate at which the source will be recorded.");
    EXPECT_EQ(child("Combo2")->toolTip(), "This allows you to select the type of file to "
                                          "generate in your soundfiles folder.");
    EXPECT_EQ(child("Combo3")->toolTip(), "2 Channels is Stereo, One is Monophonic");
    EXPECT_EQ(child("Combo4")->toolTip(),
              "The data rate to use when encoding MP3 files. Higher is better but bigger.");
    EXPECT_EQ(child("Combo5")->toolTip(),
              "This allows you to select which sound source to record.");
    EXPECT_EQ(child("Combo6")->toolTip(), "This is the Quality setting for WMA output files.");
    EXPECT_EQ(child("DTPicker1")->toolTip(), "This is when recording will start");
    EXPECT_EQ(child("DTPicker3")->toolTip(), "This is the time that recording will stop");
    EXPECT_EQ(child("Slider1")->toolTip(),
              "This slider allows you to adjust the input level of your source.");
    EXPECT_EQ(child("Picture1")->toolTip(), "This is the live peak value for the Left channel.");
    EXPECT_EQ(child("Picture2")->toolTip(), "This is the live peak value for the Right channel.");
    EXPECT_EQ(child("File1")->toolTip(), "Double click to edit show name or use arrows to select "
                                         "settings, then click once to load");
    EXPECT_EQ(child("Text1")->toolTip(), "Enter name of show here, then press enter to save");
    EXPECT_TRUE(child("Text4")->toolTip().startsWith(
        "Insert WebCast Address Here, Then Select \"Wave\" source. ("));
    EXPECT_TRUE(child("Text4")->toolTip().endsWith(")"));

    auto* slider = child<QSlider>("Slider1");
    EXPECT_EQ(slider->orientation(), Qt::Vertical);
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 100);
    EXPECT_TRUE(slider->invertedAppearance()) << "0, the loudest, is at the top";
    EXPECT_EQ(child<QTimeEdit>("DTPicker1")->displayFormat(), "h:mm:ss AP");
    EXPECT_EQ(child("Picture1")->size(), QSize(10, 75));
    EXPECT_EQ(child("Picture3")->isVisibleTo(&window), false);
    EXPECT_EQ(child("Picture4")->isVisibleTo(&window), false);
    for (const char* frame :
         {"Frame1", "Frame2", "Frame3", "Frame4", "Frame5", "Frame6", "Frame7"}) {
        EXPECT_NE(child<QFrame>(frame), nullptr) << frame;
    }
    EXPECT_EQ(child("Frame5")->x(), window.toPixels(5700));
    EXPECT_EQ(child("Frame6")->y(), window.toPixels(1125));
    EXPECT_GE(child("Command6")->y(), window.height()) << "below the client area, never seen";
}

TEST_F(MainWindowTest, TimersHaveTheirIntervalsAndOnlyTheClockRunsAfterStartUp) {
    const std::pair<const char*, int> timers[] = {{"Timer1", 1000}, {"Timer2", 50},
                                                  {"Timer3", 2000}, {"Timer4", 2000},
                                                  {"Timer5", 1000}, {"Timer8", 60000}};
    for (const auto& [name, interval] : timers) {
        child<QTimer>(name)->start();
    }
    ASSERT_TRUE(window.startUp());
    for (const auto& [name, interval] : timers) {
        auto* timer = window.findChild<QTimer*>(name);
        ASSERT_NE(timer, nullptr) << name;
        EXPECT_EQ(timer->interval(), interval) << name;
        EXPECT_EQ(timer->isActive(), std::string(name) == "Timer1") << name;
    }
}

TEST_F(MainWindowTest, StartUpSetsTheDefaultsAndCallsTheSubsystemsInOrder) {
    logHooks();
    child<QComboBox>("Combo2")->setCurrentText("MPEG Layer 3 (MP3)");
    child<QCheckBox>("Check4")->setChecked(false);
    ASSERT_TRUE(window.startUp());

    EXPECT_EQ(engine.calls, (std::vector<std::string>{"associate", "mixer", "sources",
                                                      "clearMeters", "loadShow", "selectShow"}));
    EXPECT_TRUE(QDir(dataFolder.path() + "/configurations").exists());
    EXPECT_TRUE(QDir(dataFolder.path() + "/soundfiles").exists());
    EXPECT_EQ(child<QComboBox>("Combo1")->currentText(), "44.1 kHz (CD)");
    EXPECT_EQ(child<QComboBox>("Combo2")->currentText(), "Windows Wave (WAV)");
    EXPECT_EQ(child<QComboBox>("Combo3")->currentText(), "2");
    EXPECT_EQ(child<QComboBox>("Combo4")->currentText(), "64 Kb/sec");
    EXPECT_TRUE(child("Combo2")->isEnabled());
    EXPECT_FALSE(child("Combo4")->isEnabled());
    EXPECT_FALSE(child("Combo6")->isEnabled());
    EXPECT_EQ(child<QComboBox>("Combo6")->currentText(), "WMA");
    EXPECT_EQ(child<QTimeEdit>("DTPicker1")->text(), "1:00:00 AM");
    EXPECT_EQ(child<QTimeEdit>("DTPicker3")->text(), "5:00:00 AM");
    for (const char* day : {"Check2", "Check3", "Check4", "Check5", "Check6", "Check7", "Check8"}) {
        EXPECT_TRUE(child<QCheckBox>(day)->isChecked()) << day;
    }
    EXPECT_FALSE(child<QCheckBox>("Check1")->isChecked());
    EXPECT_EQ(child<QSlider>("Slider1")->value(), 50);
    EXPECT_TRUE(child<QLineEdit>("Text4")->text().isEmpty());
    EXPECT_FALSE(child("Text1")->isVisibleTo(&window));
    EXPECT_EQ(child<QLabel>("Label6")->text(), "Idle");
    EXPECT_EQ(child<QLabel>("Label6")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(child<QLabel>("Label1")->text(), " 9:05:03 PM");
    EXPECT_EQ(window.windowTitle(), "Kelvo Recorder") << "the show loader sets the show's title";
    EXPECT_EQ(window.objectName(), "Form1");
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainWindowTest, MixerFailureEndsStartUpBeforeAnyShowIsTouched) {
    logHooks();
    mixerWorks = false;
    EXPECT_FALSE(window.startUp());
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"associate", "mixer"}));
}

TEST_F(MainWindowTest, WidthTogglesWidenAndNarrowInTheirSequence) {
    window.show();
    const auto px = [this](int twips) { return window.toPixels(twips); };
    auto* expand = child<QPushButton>("Command4");
    auto* output = child<QPushButton>("Command5");
    EXPECT_EQ(window.width(), px(2400));
    EXPECT_EQ(window.height(), px(1635));

    expand->click();
    EXPECT_EQ(outerWidth(), px(5790));
    EXPECT_EQ(expand->text(), "<<");
    output->click();
    EXPECT_EQ(outerWidth(), px(9420));
    EXPECT_EQ(output->text(), "<<");
    output->click();
    EXPECT_EQ(outerWidth(), px(5790));
    EXPECT_EQ(output->text(), ">>");
    output->click();
    expand->click();
    EXPECT_EQ(outerWidth(), px(2490));
    EXPECT_EQ(expand->text(), ">>");
    EXPECT_EQ(output->text(), ">>");
    expand->click();
    EXPECT_EQ(outerWidth(), px(5790)) << "the full width was forgotten";
    EXPECT_EQ(window.height(), px(1635));
}

TEST_F(MainWindowTest, ClosingDuringAPausedRecordingStopsItBeforeMonitoringAndTheShow) {
    logHooks();
    ASSERT_TRUE(window.startUp());
    window.show();
    child<QComboBox>("Combo5")->addItem("Line In");
    child<QPushButton>("Command1")->click();
    EXPECT_EQ(child<QLabel>("Label6")->text(), "Rec: Line In");
    EXPECT_TRUE(child<QTimer>("Timer5")->isActive());
    child<QPushButton>("Command3")->click();
    EXPECT_EQ(child<QLabel>("Label6")->text(), "Paused: Line In");
    EXPECT_EQ(engine.starts.at(0).fileName,
              (dataFolder.path() + "/soundfiles/Default-03-05-04-21-05-03.wav").toStdString());
    engine.calls.clear();

    window.close();
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"stopMonitor", "clearMeters",
                                                      "stopMonitoring", "saveShow"}));
    EXPECT_FALSE(window.recording().isRecording());
}

TEST_F(MainWindowTest, ClockTickShowsTheTimeAndHandsItToTheSchedule) {
    QDateTime seen;
    window.hooks().scheduleTick = [&](const QDateTime& moment) { seen = moment; };
    now = QDateTime(QDate(2024, 1, 1), QTime(0, 0, 0));
    window.clockTick();
    EXPECT_EQ(child<QLabel>("Label1")->text(), " 12:00:00 AM");
    EXPECT_EQ(seen, now);
    EXPECT_EQ(MainWindow::clockText(QTime(12, 0, 0)), " 12:00:00 PM");
}

TEST(Twips, FifteenMakeAPixelAt96DpiAndScaleWithTheScreen) {
    EXPECT_EQ(twipsToPixels(2490, 96), 166);
    EXPECT_EQ(twipsToPixels(9420, 96), 628);
    EXPECT_EQ(twipsToPixels(2490, 144), 249);
    EXPECT_EQ(twipsToPixels(7.5, 96), 0) << "half a pixel rounds to even";
    EXPECT_EQ(twipsToPixels(22.5, 96), 2);
}

TEST(ProgramFolders, BesideTheProgramWhenWritableElseInTheUsersDataFolder) {
    QTemporaryDir program, xdg, home;
    EXPECT_EQ(chooseDataFolder(program.path(), xdg.path(), home.path()), program.path());
    EXPECT_TRUE(QDir(program.path() + "/soundfiles").exists());

    // Not even root may create folders in /proc.
    const QString fallback = chooseDataFolder("/proc/kelvo-test", xdg.path(), home.path());
    EXPECT_EQ(fallback, xdg.path() + "/KelvoRecorder");
    EXPECT_TRUE(QDir(fallback + "/configurations").exists());
    EXPECT_TRUE(QDir(fallback + "/soundfiles").exists());
    EXPECT_EQ(chooseDataFolder("/proc/kelvo-test", "", home.path()),
              home.path() + "/.local/share/KelvoRecorder");
    EXPECT_FALSE(ensureDataFolders("/proc/kelvo-test"));
}

} // namespace
} // namespace kelvo
