// The whole window with its platform services replaced by doubles. Program and data folder
// are one temporary folder; XDG_DATA_HOME points at another. Messages are collected, never
// shown, so no test can block on a modal box.
#include "recorder/app/main_window.h"
#include "recorder/app/show_panel.h"
#include "recorder/mixer/mixer_pulse.h"
#include "recorder/shows/show_file.h"
#include "tests/mixer/fake_mixer.h"
#include "tests/recording/fake_capture_engine.h"
#include "tests/recording/fake_process_launcher.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace kelvo {
namespace {

using Calls = std::vector<std::string>;

struct CountingDesktop : DesktopRegistry {
    bool install(const std::vector<DataFile>&) override { return ++installs > 0; }
    int installs = 0;
};

QStringList entries(const QComboBox& combo) {
    QStringList texts;
    for (int i = 0; i < combo.count(); ++i) {
        texts << combo.itemText(i);
    }
    return texts;
}

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        qputenv("XDG_DATA_HOME", QFile::encodeName(xdgDataHome.path()));
        services.engine = &engine;
        services.launcher = &launcher;
        services.mixer = &fakeMixer;
        services.desktop = &fakeDesktop;
        services.messages = [this](const QString& text) {
            messages << text;
            if (onMessage) {
                onMessage();
            }
        };
        services.mixerErrors = [this](const std::string& title, const std::string& text) {
            messages << QString::fromStdString(title + "|" + text);
        };
        services.clock = [this] { return now; };
        services.programFolder = services.dataFolder = folder.path();
    }
    MainWindow& window() {
        if (!window_) {
            window_ = std::make_unique<MainWindow>(services);
        }
        return *window_;
    }
    // Starts up and shows the window, active, as the user meets it.
    void open() {
        ASSERT_TRUE(window().startUp());
        window().show();
        QApplication::setActiveWindow(&window());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }
    // A new start of the program on the same folders.
    void reopen(std::vector<std::string> commandLine = {}) {
        window_.reset();
        services.arguments = std::move(commandLine);
        open();
    }
    const MainWindowControls& controls() { return window().controls(); }
    void typeName(const QString& name, std::optional<Qt::Key> end) {
        QTest::mouseDClick(controls().file1->viewport(), Qt::LeftButton);
        ASSERT_TRUE(controls().text1->hasFocus());
        QTest::keyClicks(controls().text1, name); // replaces the selected current name
        if (end) {
            QTest::keyClick(controls().text1, *end);
        }
    }
    QString caption() { return window().windowTitle(); }
    QString listed() { return controls().file1->currentItem()->text(); }
    QStringList showList() {
        QStringList names;
        for (int row = 0; row < controls().file1->count(); ++row) {
            names << controls().file1->item(row)->text();
        }
        return names;
    }

    QString showPath(const QString& name) const {
        return services.dataFolder + "/configurations/" + name;
    }
    QByteArray showFile(const QString& name) const {
        QFile file(showPath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    static void writeFile(const QString& path, const ShowRecord& record) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(writeShowRecord(record)));
    }
    // The record a show file holds now: exactly one is expected.
    LoadedShowRecord savedShow(const QString& name) const {
        const ShowFileContent content = readShowFile(showFile(name).toStdString());
        EXPECT_EQ(content.completeRecords, 1) << name.toStdString();
        return content.record.value_or(LoadedShowRecord{});
    }

    QTemporaryDir folder, xdgDataHome;
    testing::FakeCaptureEngine engine;
    testing::FakeProcessLauncher launcher;
    FakeMixer fakeMixer = FakeMixer::withSources({"Microphone", "Line In", "Monitor of Speakers"});
    CountingDesktop fakeDesktop;
    QStringList messages;
    std::function<void()> onMessage;
    QDateTime now{QDate(2004, 3, 5), QTime(21, 5, 3)};
    MainWindowServices services;

private:
    std::unique_ptr<MainWindow> window_;
};

TEST_F(WindowTest, EveryControlCarriesItsTextsAndTooltip) {
    const struct {
        const char *name, *text, *tip;
    } expected[] = {
        {"Label1", "", "This is the current time"},
        {"Label11", "Start", ""},
        {"Label2", "Stop", ""},
        {"DTPicker1", "", "This is when recording will start"},
        {"DTPicker3", "", "This is the time that recording will stop"},
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
        {"Picture1", "", "This is the live peak value for the Left channel."},
        {"Picture2", "", "This is the live peak value for the Right channel."},
        {"Picture3", "", ""},
        {"Picture4", "", ""},
        {"Slider1", "", "This slider allows you to adjust the input level of your source."},
        {"Label3", "Source", ""},
        {"Combo5", "", "This allows you to select which sound source to record."},
        {"Label4", "Sample Rate", ""},
        {"Combo1", "8 kHz|11 kHz|22 kHz|32 kHz|44.1 kHz (CD)|48 kHz",
         "This is the sample rate at which the source will be recorded."},
        {"Label12", "Channels", ""},
        {"Combo3", "1|2", "2 Channels is Stereo, One is Monophonic"},
        {"Label5", "Show:", ""},
        {"File1", "",
         "Double click to edit show name or use arrows to select settings, then "
         "click once to load"},
        {"Text1", "", "Enter name of show here, then press enter to save"},
        {"Label9", "Output Format", ""},
        {"Combo2", "Windows Wave (WAV)|MPEG Layer 3 (MP3)",
         "This allows you to select the type of file to generate in your soundfiles folder."},
        {"Label10", "MP3 Quality", ""},
        {"Combo4",
         "16 Kb/sec|32 Kb/sec|40 Kb/sec|48 Kb/sec|56 Kb/sec|64 Kb/sec|80 Kb/sec|96 Kb/sec|"
         "112 Kb/sec|128 Kb/sec|160 Kb/sec|192 Kb/sec|224 Kb/sec|256 Kb/sec|320 Kb/sec",
         "The data rate to use when encoding MP3 files. Higher is better but bigger."},
        {"Label7", "WebCast Address", ""},
        {"Text4", "",
         "Insert WebCast Address Here, Then Select \"Wave\" source. "
         "(http://radio.example.com/live.m3u)"},
        {"Label8", "WMA Quality", ""},
        {"Combo6", "", "This is the Quality setting for WMA output files."},
    };
    for (const auto& control : expected) {
        SCOPED_TRACE(control.name);
        auto* widget = window().findChild<QWidget*>(control.name);
        ASSERT_NE(widget, nullptr);
        QStringList texts;
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            texts = entries(*combo);
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            texts << label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            texts << button->text();
        }
        EXPECT_EQ(texts.join('|'), control.text);
        EXPECT_EQ(widget->toolTip(), control.tip);
    }
    for (const char* frame :
         {"Frame1", "Frame2", "Frame3", "Frame4", "Frame5", "Frame6", "Frame7"}) {
        EXPECT_NE(window().findChild<QFrame*>(frame), nullptr) << frame;
    }
}

TEST_F(WindowTest, WidthTogglesWidenAndNarrowInTheirSequence) {
    window().show();
    const auto px = [this](int twips) { return window().toPixels(twips); };
    QPushButton* expand = controls().command4;
    QPushButton* output = controls().command5;
    EXPECT_EQ(window().size(), QSize(px(2400), px(1635)));
    const struct {
        QPushButton* click;
        int width;
        const char *expandText, *outputText;
    } steps[] = {{expand, 5790, "<<", ">>"}, {output, 9420, "<<", "<<"},
                 {output, 5790, "<<", ">>"}, {output, 9420, "<<", "<<"},
                 {expand, 2490, ">>", ">>"}, {expand, 5790, "<<", ">>"}}; // full width forgotten
    for (const auto& step : steps) {
        step.click->click();
        EXPECT_EQ(window().frameGeometry().width(), px(step.width));
        EXPECT_EQ(expand->text(), step.expandText);
        EXPECT_EQ(output->text(), step.outputText);
    }
    EXPECT_EQ(window().height(), px(1635));
}

TEST_F(WindowTest, FirstStartSetsTheDefaultsAndClosingWritesThemAsTheOneRecordOfDefault) {
    controls().combo2->setCurrentText("MPEG Layer 3 (MP3)");
    controls().weekdays[2]->setChecked(false);
    QTimer* const timers[] = {controls().timer2, controls().timer3, controls().timer4,
                              controls().timer5, controls().timer8};
    for (QTimer* timer : timers) {
        timer->start();
    }
    open();
    EXPECT_TRUE(showFile("Default").isEmpty());
    EXPECT_EQ(caption(), "Default - KelvoRecorder");
    EXPECT_EQ(listed(), "Default");
    EXPECT_TRUE(QDir(services.dataFolder + "/soundfiles").exists());
    EXPECT_EQ(controls().combo2->currentText(), "Windows Wave (WAV)");
    EXPECT_FALSE(controls().combo4->isEnabled());
    EXPECT_EQ(controls().combo6->currentText(), "WMA");
    EXPECT_TRUE(controls().weekdays[2]->isChecked());
    EXPECT_EQ(entries(*controls().combo5),
              QStringList({"Microphone", "Line In", "Monitor of Speakers"}));
    EXPECT_EQ(controls().combo5->currentText(), "Microphone");
    ASSERT_FALSE(fakeMixer.selectionWrites.empty() || fakeMixer.volumeWrites.empty());
    EXPECT_EQ(fakeMixer.selectionWrites.back(), (std::vector<std::int32_t>{1, 0, 0}));
    EXPECT_EQ(fakeMixer.volumeWrites.back(), (std::pair<std::uint32_t, std::uint32_t>{11, 32768}));
    EXPECT_FALSE(controls().text1->isVisibleTo(&window()));
    EXPECT_EQ(controls().label6->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(controls().label1->text(), " 9:05:03 PM");
    EXPECT_TRUE(controls().timer1->isActive());
    for (const QTimer* timer : timers) { // only the clock runs
        EXPECT_FALSE(timer->isActive()) << timer->objectName().toStdString();
    }
    EXPECT_EQ(fakeDesktop.installs, 1) << "the association is written at every start";
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();

    window().move(100, 60);
    window().close();
    EXPECT_EQ(showFile("Default"),
              "\"1:00:00 AM\",\"5:00:00 AM\",\"Windows Wave (WAV)\",\"44.1 kHz "
              "(CD)\",\"64 Kb/sec\",\"2\",1500,900,\"Microphone\",50,\"\",\"\","
              "1,1,1,1,1,1,1\r\n");
}

TEST_F(WindowTest, NoMixerEndsStartUpWithItsMessageAndWithoutTouchingAnyShow) {
    PulseMixer::Options nowhere;
    nowhere.server = "unix:" + xdgDataHome.path().toStdString() + "/no-such-socket";
    nowhere.timeout = std::chrono::milliseconds(500);
    PulseMixer pulse(nowhere);
    services.mixer = &pulse;

    EXPECT_FALSE(window().startUp());
    EXPECT_EQ(messages,
              QStringList{"Kelvo Mixer - Error|Unable to detect a mixer.\r\n\r\nTerminating..."});
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(caption(), "Kelvo Recorder") << "no show was loaded";
    window().close(); // closing what never started saves nothing either
    EXPECT_TRUE(QDir(services.dataFolder + "/configurations").isEmpty());
}

TEST_F(WindowTest, ClosingStopsTheRecordingOrMonitoringOnceThenSavesTheShow) {
    open();
    controls().combo5->setCurrentText("Line In");
    controls().text4->setText("http://radio.example/live");
    controls().command1->click();
    EXPECT_EQ(controls().label6->text(), "Rec WebCast: Line In");
    EXPECT_EQ(launcher.launches.at(0).args, Calls{"http://radio.example/live"});
    EXPECT_EQ(window().heldMixerSettings().webcastAddress, "http://radio.example/live");
    controls().command3->click();
    EXPECT_EQ(engine.starts.at(0).fileName,
              (services.dataFolder + "/soundfiles/Default-03-05-04-21-05-03.wav").toStdString());
    controls().text4->setText("http://other.example/");
    engine.calls.clear();
    window().close();
    EXPECT_EQ(engine.calls, Calls{"stopMonitor"});
    EXPECT_FALSE(window().recording().isRecording());
    EXPECT_EQ(savedShow("Default").sourceName, "Line In");
    EXPECT_EQ(savedShow("Default").webcastAddress, "http://other.example/");

    reopen();
    controls().check1->setChecked(true);
    controls().slider1->setValue(30);
    engine.calls.clear();
    window().close();
    EXPECT_EQ(engine.calls, Calls{"stopMonitor"});
    EXPECT_FALSE(window().monitoring().isMonitoring());
    EXPECT_EQ(savedShow("Default").inputLevel, 30);
}

TEST_F(WindowTest, MonitoringABusyDeviceSaysSoOnceAndRecordingTakesTheEngineOver) {
    open();
    controls().combo5->setCurrentText("Line In");
    fakeMixer.selectionWrites.clear();
    engine.startResult = -3; // another program holds the capture device
    controls().check1->setChecked(true);
    EXPECT_EQ(messages, QStringList{RecordingController::kEngineMessage});
    EXPECT_EQ(engine.starts.at(0).sampleRate, 8000u);
    ASSERT_EQ(fakeMixer.selectionWrites.size(), 1u) << "the source is switched on first";
    EXPECT_EQ(fakeMixer.selectionWrites[0], (std::vector<std::int32_t>{0, 1, 0}));
    controls().check1->setChecked(false);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_FALSE(window().monitoring().isMonitoring());
    EXPECT_FALSE(controls().timer2->isActive());

    engine.startResult = 0;
    controls().check1->setChecked(true);
    ASSERT_TRUE(window().monitoring().isMonitoring());
    engine.calls.clear();
    controls().command1->click();
    EXPECT_EQ(engine.calls, (Calls{"stopMonitor", "initialize", "startMonitor"}));
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
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(WindowTest, AssociationOpensShowFilesWithTheProgramInAFolderWithBlanks) {
    QTemporaryDir withBlanks(QDir::tempPath() + "/kelvo program XXXXXX");
    services.programFolder = services.dataFolder = withBlanks.path();
    services.desktop = nullptr; // the user's desktop: XDG_DATA_HOME, a temporary folder here
    ASSERT_TRUE(window().startUp());

    QFile entry(xdgDataHome.path() + "/applications/kelvorecorder.desktop");
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.contains("\nExec=\"" + services.programFolder + "/KelvoRecorder\" %f\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("\nMimeType=application/x-kelvorecorder-cia;\n"));
    QFile package(xdgDataHome.path() + "/mime/packages/kelvorecorder-cia.xml");
    ASSERT_TRUE(package.open(QIODevice::ReadOnly));
    const QByteArray xml = package.readAll();
    EXPECT_TRUE(xml.contains("<mime-type type=\"application/x-kelvorecorder-cia\">"));
    EXPECT_TRUE(xml.contains("<glob pattern=\"*.cia\"/>"));
    EXPECT_TRUE(xml.contains("<comment>cia File</comment>"));
}

// Shows: the show list, the name box, the delete button, command line and drops.

ShowRecord morning() {
    ShowRecord r;
    r.startTime = {6, 0, 0};
    r.sampleRate = "22 kHz";
    r.windowLeft = 1500; // 100 pixels
    r.windowTop = 750;
    r.sourceName = "Line In";
    r.inputLevel = 30;
    r.webcastAddress = "http://a.example/live";
    r.wmaQuality = "WMA 64";
    r.weekdays = {0, 1, 1, 1, 1, 1, 0};
    return r;
}

ShowRecord evening() {
    ShowRecord r;
    r.outputFormat = "MPEG Layer 3 (MP3)";
    r.sampleRate = "48 kHz";
    r.windowLeft = 600000; // far beyond every screen
    r.sourceName = "Monitor of Speakers";
    r.inputLevel = 80;
    return r;
}

class ShowTest : public WindowTest {
protected:
    ShowTest() {
        writeFile(showPath("A"), morning());
        writeFile(showPath("B"), evening());
        a = showFile("A");
        b = showFile("B");
    }
    QByteArray a, b;
};

TEST_F(ShowTest, SwitchingSavesTheOldShowThenLoadsTheNewOneButChoosingItAgainDoesNothing) {
    reopen({showPath("A").toStdString()});
    EXPECT_EQ(caption(), "A - KelvoRecorder");
    EXPECT_EQ(controls().combo5->currentText(), "Line In");
    EXPECT_EQ(controls().text4->text(), "http://a.example/live");
    EXPECT_EQ(controls().dtPicker1->text(), "6:00:00 AM");
    EXPECT_FALSE(controls().weekdays[0]->isChecked());
    EXPECT_EQ(window().pos(), QPoint(100, 50));

    controls().slider1->setValue(40);
    QTest::keyClick(controls().file1, Qt::Key_Down);
    QTRY_COMPARE(caption(), QString("B - KelvoRecorder"));
    EXPECT_EQ(savedShow("A").inputLevel, 40);
    EXPECT_EQ(savedShow("A").wmaQuality, "WMA 64") << "written back as loaded";
    EXPECT_EQ(showFile("B"), b);
    // MP3 survives the switch from a show whose sample rate was too low for it.
    EXPECT_EQ(controls().combo2->currentText(), "MPEG Layer 3 (MP3)");
    EXPECT_TRUE(controls().combo4->isEnabled());
    EXPECT_EQ(fakeMixer.selectionWrites.back(), (std::vector<std::int32_t>{0, 0, 1}));
    EXPECT_EQ(controls().slider1->value(), 80);
    EXPECT_TRUE(controls().weekdays[0]->isChecked());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window().frameGeometry().topRight())) << "moved, but reachable";
    EXPECT_EQ(listed(), "B");

    controls().combo1->setCurrentText("8 kHz");
    const QPoint place = window().pos();
    window().shows().showChosen(); // the selected entry is the current show
    EXPECT_EQ(showFile("B"), b);
    EXPECT_EQ(controls().combo1->currentText(), "8 kHz");
    EXPECT_EQ(window().pos(), place);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(ShowTest, NamingSavesTheScreenUnderTheTypedNameAndLoadsItOnce) {
    reopen({showPath("A").toStdString()});
    controls().combo1->setCurrentText("11 kHz");
    const std::size_t loads = fakeMixer.selectionWrites.size(); // one per load

    typeName("B", Qt::Key_Return);
    EXPECT_EQ(savedShow("B").sampleRate, "11 kHz");
    EXPECT_EQ(showFile("A"), a) << "the show current before is not saved";
    EXPECT_EQ(caption(), "B - KelvoRecorder");
    EXPECT_EQ(fakeMixer.selectionWrites.size(), loads + 1);
    EXPECT_TRUE(controls().file1->isVisible());
    EXPECT_FALSE(controls().text1->isVisible());

    typeName("Zzz", Qt::Key_Escape);
    EXPECT_EQ(showFile("Zzz"), "(missing)");
    EXPECT_EQ(listed(), "B");
    EXPECT_FALSE(controls().text1->isVisible());

    typeName("Evening", std::nullopt);
    controls().text4->setFocus(); // leaving the box commits as Enter does
    EXPECT_EQ(caption(), "Evening - KelvoRecorder");
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();

    // A real message box takes the focus from the name box; that must not commit again.
    onMessage = [this] { controls().text4->setFocus(); };
    typeName("a/b", Qt::Key_Return);
    EXPECT_EQ(messages, QStringList{"A show name cannot contain \"/\"."});
    EXPECT_TRUE(controls().text1->isVisible()) << "the user may correct the name";
    controls().text1->clear();
    QTest::keyClick(controls().text1, Qt::Key_Return);
    EXPECT_EQ(messages.last(), "Please enter a name for the show.");
    onMessage = nullptr;
    controls().text1->setText("..");
    controls().text4->setFocus();
    EXPECT_EQ(messages.size(), 2) << "focus loss asks nothing";
    EXPECT_FALSE(controls().text1->isVisible());
    EXPECT_EQ(showList(), QStringList({"A", "B", "Evening"}));
}

TEST_F(ShowTest, DeletingTheCurrentShowLoadsTheFirstLeftAndTheLastLeavesDefault) {
    QFile::rename(showPath("B"), showPath("b"));
    reopen({showPath("b").toStdString()});
    EXPECT_EQ(showList(), QStringList({"A", "b"})) << "sorted by name";

    controls().command6->click();
    EXPECT_EQ(showFile("b"), "(missing)");
    EXPECT_EQ(caption(), "A - KelvoRecorder");
    EXPECT_EQ(controls().combo1->currentText(), "22 kHz");
    EXPECT_EQ(showFile("A"), a) << "neither show was saved";
    EXPECT_EQ(listed(), "A");

    controls().command6->click();
    EXPECT_EQ(showList(), QStringList{"Default"});
    EXPECT_TRUE(showFile("Default").isEmpty());
    EXPECT_EQ(caption(), "Default - KelvoRecorder");
}

TEST_F(ShowTest, CommandLineNamesTheShowByItsFileNameOnly) {
    QTemporaryDir elsewhere;
    QFile::rename(showPath("A"), showPath("My Morning.cia"));
    writeFile(elsewhere.path() + "/Evening.cia", evening());
    // The desktop may split the path at its blanks: together the arguments are the path.
    reopen({showPath("My").toStdString(), "Morning.cia"});
    EXPECT_EQ(caption(), "My Morning - KelvoRecorder");
    EXPECT_EQ(listed(), "My Morning.cia");
    EXPECT_EQ(controls().combo1->currentText(), "22 kHz");

    reopen({(elsewhere.path() + "/Evening.cia").toStdString()});
    EXPECT_EQ(caption(), "Evening - KelvoRecorder");
    EXPECT_TRUE(showFile("Evening.cia").isEmpty()) << "created empty in configurations";
    EXPECT_EQ(controls().combo1->currentText(), "44.1 kHz (CD)");

    reopen({"\"" + showPath("Evening.cia").toStdString() + "\""});
    EXPECT_EQ(caption(), "Default - KelvoRecorder");
}

TEST_F(WindowTest, DroppedFilesLoadTheLastWithoutSavingTheCurrentShow) {
    QTemporaryDir elsewhere;
    writeFile(elsewhere.path() + "/One", morning());
    writeFile(elsewhere.path() + "/Three.cia", evening());
    open();
    controls().combo1->setCurrentText("8 kHz");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(elsewhere.path() + "/One"),
                   QUrl::fromLocalFile(elsewhere.path() + "/Two"),
                   QUrl::fromLocalFile(elsewhere.path() + "/Three.cia")});
    // As the desktop drops: the window is asked first.
    QDragEnterEvent enter({20, 20}, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop({20, 20}, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window(), &drop);
    EXPECT_EQ(caption(), "Three - KelvoRecorder");
    EXPECT_EQ(listed(), "Three.cia");
    EXPECT_TRUE(showFile("Default").isEmpty()) << "the show current before is not written";
    EXPECT_EQ(showFile("One"), "(missing)");
    EXPECT_EQ(controls().combo1->currentText(), "8 kHz");
}

} // namespace
} // namespace kelvo
