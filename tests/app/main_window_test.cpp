#include "recorder/app/program_folders.h"
#include "recorder/app/twips.h"
#include "recorder/mixer/mixer_pulse.h"
#include "tests/app/window_fixture.h"

#include <QAbstractButton>

namespace kelvo {
namespace {

class MainWindowTest : public WindowFixture {
protected:
    QStringList entries(const char* name) {
        QStringList texts;
        auto* combo = child<QComboBox>(name);
        for (int i = 0; i < combo->count(); ++i) {
            texts << combo->itemText(i);
        }
        return texts;
    }
    int outerWidth() { return window().frameGeometry().width(); }
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
    EXPECT_TRUE(entries("Combo5").isEmpty()) << "the mixer fills it at start-up";
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
    EXPECT_NE(child<LevelMeter>("Picture2"), nullptr);
    for (const char* holder : {"Picture3", "Picture4"}) {
        EXPECT_FALSE(child(holder)->isVisibleTo(&window())) << holder;
        EXPECT_EQ(child<QLabel>(holder)->pixmap().size(), QSize(27, 74)) << holder;
    }
    for (const char* frame :
         {"Frame1", "Frame2", "Frame3", "Frame4", "Frame5", "Frame6", "Frame7"}) {
        EXPECT_NE(child<QFrame>(frame), nullptr) << frame;
    }
    EXPECT_EQ(child("Frame5")->x(), window().toPixels(5700));
    EXPECT_EQ(child("Frame6")->y(), window().toPixels(1125));
    EXPECT_GE(child("Command6")->y(), window().height()) << "below the client area, never seen";
}

TEST_F(MainWindowTest, TimersHaveTheirIntervalsAndOnlyTheAlignedClockRunsAfterStartUp) {
    const std::pair<const char*, int> timers[] = {{"Timer1", 1000}, {"Timer2", 50},
                                                  {"Timer3", 2000}, {"Timer4", 2000},
                                                  {"Timer5", 1000}, {"Timer8", 60000}};
    for (const auto& [name, interval] : timers) {
        ASSERT_NE(child<QTimer>(name), nullptr) << name;
        EXPECT_EQ(child<QTimer>(name)->interval(), interval) << name;
        child<QTimer>(name)->start();
    }
    ASSERT_TRUE(window().startUp());
    for (const auto& [name, interval] : timers) {
        EXPECT_EQ(child<QTimer>(name)->isActive(), std::string(name) == "Timer1") << name;
    }
    // Started by the second ticker, which keeps it just past each whole second.
    EXPECT_EQ(child<QTimer>("Timer1")->timerType(), Qt::PreciseTimer);
    EXPECT_LE(child<QTimer>("Timer1")->interval(), 1000);
}

TEST_F(MainWindowTest, FirstStartSetsTheDefaultsAndSelectsMicrophoneAtHalfLevel) {
    child<QComboBox>("Combo2")->setCurrentText("MPEG Layer 3 (MP3)");
    child<QCheckBox>("Check4")->setChecked(false);
    ASSERT_TRUE(window().startUp());

    EXPECT_TRUE(QDir(programFolder + "/soundfiles").exists());
    EXPECT_EQ(child<QComboBox>("Combo2")->currentText(), "Windows Wave (WAV)");
    EXPECT_FALSE(child("Combo4")->isEnabled());
    EXPECT_EQ(child<QComboBox>("Combo6")->currentText(), "WMA");
    EXPECT_TRUE(child<QCheckBox>("Check4")->isChecked());
    EXPECT_EQ(entries("Combo5"), QStringList({"Microphone", "Line In", "Monitor of Speakers"}));
    EXPECT_EQ(child<QComboBox>("Combo5")->currentText(), "Microphone");
    ASSERT_FALSE(fakeMixer.selectionWrites.empty());
    EXPECT_EQ(fakeMixer.selectionWrites.back().second, (std::vector<std::int32_t>{1, 0, 0}));
    ASSERT_FALSE(fakeMixer.volumeWrites.empty());
    EXPECT_EQ(fakeMixer.volumeWrites.back(), (std::pair<std::uint32_t, std::uint32_t>{11, 32768}));
    EXPECT_FALSE(child("Text1")->isVisibleTo(&window()));
    EXPECT_EQ(child<QLabel>("Label6")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(child<QLabel>("Label1")->text(), " 9:05:03 PM");
    EXPECT_EQ(fakeDesktop.installs, 1) << "the association is written at every start";
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_TRUE(mixerErrors.isEmpty());
}

TEST_F(MainWindowTest, NoMixerEndsStartUpWithItsMessageAndWithoutTouchingAnyShow) {
    PulseMixer::Options nowhere;
    nowhere.server = "unix:" + xdgDataHome.path().toStdString() + "/no-such-socket";
    nowhere.timeout = std::chrono::milliseconds(500);
    PulseMixer pulse(nowhere);
    mixer = &pulse;

    EXPECT_FALSE(window().startUp());
    EXPECT_EQ(mixerErrors,
              QStringList{"Kelvo Mixer - Error|Unable to detect a mixer.\r\n\r\nTerminating..."});
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(controls().combo5->count(), 0);
    EXPECT_EQ(window().windowTitle(), "Kelvo Recorder") << "no show was loaded";
    window().close(); // closing what never started saves nothing either
    EXPECT_TRUE(QDir(programFolder + "/configurations").isEmpty());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainWindowTest, WidthTogglesWidenAndNarrowInTheirSequence) {
    window().show();
    const auto px = [this](int twips) { return window().toPixels(twips); };
    auto* expand = child<QPushButton>("Command4");
    auto* output = child<QPushButton>("Command5");
    EXPECT_EQ(window().width(), px(2400));
    EXPECT_EQ(window().height(), px(1635));

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
    EXPECT_EQ(window().height(), px(1635));
}

TEST_F(MainWindowTest, ClosingDuringAPausedRecordingStopsItThenSavesTheShow) {
    open();
    controls().combo5->setCurrentText("Line In");
    controls().text4->setText("http://radio.example/live");
    controls().command1->click();
    EXPECT_EQ(controls().label6->text(), "Rec WebCast: Line In");
    ASSERT_EQ(launcher.launches.size(), 1u);
    EXPECT_EQ(launcher.launches[0].args, std::vector<std::string>{"http://radio.example/live"});
    EXPECT_EQ(window().heldMixerSettings().webcastAddress, "http://radio.example/live");
    controls().command3->click();
    EXPECT_EQ(controls().label6->text(), "Paused: Line In");
    EXPECT_EQ(engine.starts.at(0).fileName,
              (programFolder + "/soundfiles/Default-03-05-04-21-05-03.wav").toStdString());
    controls().text4->setText("http://other.example/");
    engine.calls.clear();

    window().close();
    EXPECT_EQ(engine.calls, std::vector<std::string>{"stopMonitor"});
    EXPECT_FALSE(window().recording().isRecording());
    EXPECT_EQ(savedShow("Default").sourceName, "Line In");
    EXPECT_EQ(savedShow("Default").webcastAddress, "http://other.example/");
}

TEST_F(MainWindowTest, ClockTickShowsTheTimeAndRunsTheSchedule) {
    ASSERT_TRUE(window().startUp());
    controls().dtPicker1->setTime(QTime(21, 5, 4));
    controls().dtPicker3->setTime(QTime(21, 5, 6));
    window().clockTick();
    EXPECT_EQ(controls().label1->text(), " 9:05:03 PM");
    EXPECT_FALSE(window().recording().isRecording());
    now = now.addSecs(1);
    window().clockTick();
    EXPECT_TRUE(window().recording().isRecording()) << "the start second";
    EXPECT_EQ(controls().label1->text(), " 9:05:04 PM");
    now = now.addSecs(2); // a late tick still finds the stop second it skipped
    window().clockTick();
    EXPECT_FALSE(window().recording().isRecording());
    EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "stopMonitor"), 1);
    EXPECT_EQ(MainWindow::clockText(QTime(12, 0, 0)), " 12:00:00 PM");
}

TEST_F(MainWindowTest, MonitoringABusyDeviceSaysSoOnceAndClearingTheBoxSaysNothing) {
    open();
    controls().combo5->setCurrentText("Line In");
    fakeMixer.selectionWrites.clear();
    engine.startResult = -3; // another program holds the capture device
    controls().check1->setChecked(true);
    EXPECT_EQ(
        messages,
        QStringList{"KelvoInitializeMonitor: Audio Channel is in use by another Application"});
    EXPECT_EQ(engine.starts.at(0).sampleRate, 8000u);
    ASSERT_EQ(fakeMixer.selectionWrites.size(), 1u) << "the source is switched on first";
    EXPECT_EQ(fakeMixer.selectionWrites[0].second, (std::vector<std::int32_t>{0, 1, 0}));
    EXPECT_TRUE(controls().timer8->isActive());
    QImage unlit = controls().picture1->image();
    QTest::qWait(120); // a few meter polls of an engine reporting nothing
    EXPECT_EQ(controls().picture1->image(), unlit) << "the meters stay empty";

    controls().check1->setChecked(false);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_FALSE(window().monitoring().isMonitoring());
    EXPECT_FALSE(controls().timer2->isActive());
}

TEST_F(MainWindowTest, StartWhileMonitoringTakesTheEngineOverAndStopClearsTheBox) {
    open();
    controls().check1->setChecked(true);
    ASSERT_TRUE(window().monitoring().isMonitoring());
    engine.calls.clear();

    controls().command1->click();
    EXPECT_EQ(engine.calls,
              (std::vector<std::string>{"stopMonitor", "initialize", "startMonitor"}));
    EXPECT_FALSE(window().monitoring().isMonitoring());
    EXPECT_TRUE(controls().check1->isChecked()) << "ticked but not monitoring";
    EXPECT_FALSE(controls().check1->isEnabled());
    EXPECT_TRUE(controls().timer2->isActive()) << "the recording drives the meters";
    window().monitoring().limitTimerTick(); // the minute runs out during the recording
    EXPECT_TRUE(window().recording().isRecording());

    controls().command2->click();
    EXPECT_FALSE(controls().check1->isChecked());
    EXPECT_TRUE(controls().check1->isEnabled());
    EXPECT_FALSE(window().monitoring().isMonitoring());
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(MainWindowTest, ClosingWhileMonitoringStopsTheEngineBeforeSaving) {
    open();
    controls().check1->setChecked(true);
    engine.calls.clear();
    window().close();
    EXPECT_EQ(engine.calls, std::vector<std::string>{"stopMonitor"});
    EXPECT_FALSE(window().monitoring().isMonitoring());
    EXPECT_EQ(savedShow("Default").inputLevel, 50);
}

TEST_F(MainWindowTest, AssociationOpensShowFilesWithTheProgramInAFolderWithBlanks) {
    QTemporaryDir withBlanks(QDir::tempPath() + "/kelvo program XXXXXX");
    programFolder = withBlanks.path();
    desktop = nullptr; // the user's desktop: XDG_DATA_HOME, a temporary folder here
    ASSERT_TRUE(window().startUp());

    QFile entry(xdgDataHome.path() + "/applications/kelvorecorder.desktop");
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.contains("\nExec=\"" + programFolder + "/KelvoRecorder\" %f\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("\nMimeType=application/x-kelvorecorder-cia;\n"));
    QFile package(xdgDataHome.path() + "/mime/packages/kelvorecorder-cia.xml");
    ASSERT_TRUE(package.open(QIODevice::ReadOnly));
    const QByteArray xml = package.readAll();
    EXPECT_TRUE(xml.contains("<mime-type type=\"application/x-kelvorecorder-cia\">"));
    EXPECT_TRUE(xml.contains("<glob pattern=\"*.cia\"/>"));
    EXPECT_TRUE(xml.contains("<comment>cia File</comment>"));
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
