// The whole window, its platform services replaced by doubles, in temporary folders.
#include "recorder/app/main_window.h"
#include "recorder/app/program_folders.h"
#include "recorder/app/recordings_window.h"
#include "recorder/app/show_panel.h"
#include "recorder/app/termination_signals.h"
#include "recorder/mixer/mixer_pulse.h"
#include "tests/app/window_doubles.h"
#include "tests/eventually.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <csignal>
#include <fstream>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kelvo {
namespace {

using Calls = std::vector<std::string>;

// Show records as written: times, formats, window position in twips, source, input level,
// webcast address, WMA quality, weekdays. Evening sits far right of every screen.
const QByteArray kMorning =
    "\"6:00:00 AM\",\"5:00:00 AM\",\"Windows Wave (WAV)\",\"22 kHz\",\"64 "
    "Kb/sec\",\"2\",1500,750,\"Line In\",30,\"http://a.example/live\",\"WMA 64\",0,1,1,1,1,1,0\r\n";
const QByteArray kEvening =
    "\"1:00:00 AM\",\"5:00:00 AM\",\"MPEG Layer 3 (MP3)\",\"48 kHz\",\"64 "
    "Kb/sec\",\"2\",600000,0,\"Monitor of Speakers\",80,\"\",\"\",1,1,1,1,1,1,1\r\n";

QStringList entries(const QAbstractItemModel* list) {
    QStringList texts;
    for (int row = 0; row < list->rowCount(); ++row) {
        texts << list->index(row, 0).data().toString();
    }
    return texts;
}

using testing::read;
using testing::write;

// Root passes every permission check; for as long as this lives, the test's thread (the
// window's, which does the file work) does not, as the user's program would not.
class WithoutFileCapabilities {
public:
    WithoutFileCapabilities() {
        if (::geteuid() != 0) {
            usable_ = true; // permissions already apply
            return;
        }
        if (::syscall(SYS_capget, &header_, saved_) != 0) {
            return;
        }
        __user_cap_data_struct dropped[2] = {saved_[0], saved_[1]};
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
            dropped[cap / 32].effective &= ~(1u << (cap % 32));
        }
        usable_ = ::syscall(SYS_capset, &header_, dropped) == 0;
        dropped_ = usable_;
    }
    ~WithoutFileCapabilities() {
        if (dropped_) {
            ::syscall(SYS_capset, &header_, saved_);
        }
    }
    WithoutFileCapabilities(const WithoutFileCapabilities&) = delete;
    WithoutFileCapabilities& operator=(const WithoutFileCapabilities&) = delete;
    bool usable() const { return usable_; }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool usable_ = false;
    bool dropped_ = false;
};

struct TemporaryFolders {
    QTemporaryDir folder, xdgDataHome;
};

class WindowTest : public ::testing::Test,
                   protected TemporaryFolders,
                   protected testing::WindowDoubles {
protected:
    WindowTest() : WindowDoubles(folder.path()) {
        qputenv("XDG_DATA_HOME", QFile::encodeName(xdgDataHome.path()));
        // Never the user's own settings.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdgDataHome.path() + "/config"));
    }
    MainWindow& window() {
        if (!window_) {
            window_ = std::make_unique<MainWindow>(services);
        }
        return *window_;
    }
    // A start of the program on the same folders, the window shown and active.
    void open(std::vector<std::string> commandLine = {}) {
        window_.reset();
        services.arguments = std::move(commandLine);
        window().startUp();
        // The tests move the clock and tick it themselves: the real tick comes whenever a busy
        // machine lets the event loop run, and would act at a moment no test chose (a show
        // opened inside its scheduled hours would start a late recording there).
        if (!realClock)
            controls().clockTick->stop();
        window().show();
        QApplication::setActiveWindow(&window());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }
    bool realClock = false; // the window's own tick keeps running
    const MainWindowControls& controls() { return window().controls(); }
    void typeName(const QString& name, std::optional<Qt::Key> end) {
        QTest::mouseDClick(controls().showList->viewport(), Qt::LeftButton);
        ASSERT_TRUE(controls().showName->hasFocus());
        QTest::keyClicks(controls().showName, name); // replaces the selected current name
        if (end) {
            QTest::keyClick(controls().showName, *end);
        }
    }
    // What a load shows first: the caption (without the next-start hint a clock tick may have
    // added), the show list's selection and the sample rate.
    QString current() {
        return window().windowTitle().section(" - Next: ", 0, 0) + "|" +
               controls().showList->currentItem()->text() + "|" +
               controls().sampleRate->currentText();
    }
    // Drops `urls` as the desktop does, the window asked first; whether it took them.
    bool drop(const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter({20, 20}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &enter);
        QDropEvent drop({20, 20}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &drop);
        return enter.isAccepted();
    }

private:
    std::unique_ptr<MainWindow> window_;
};

// Automation finds the controls by these names; the lists hold the very texts show files store.
TEST_F(WindowTest, EveryControlHasItsNameAndTheListsHoldTheTextsShowFilesStore) {
    EXPECT_EQ(window().findChildren<QFrame*>(QRegularExpression("^Frame[1-7]$")).size(), 7);
    const QString names = "Label1 Label11 Label2 DTPicker1 DTPicker3 Command1 Command2 Command3 "
                          "Command4 Command5 Command6 Label6 Check1 Check2 Check3 Check4 Check5 "
                          "Check6 Check7 Check8 Picture1 Picture2 Picture3 Picture4 Slider1 "
                          "Label3 Combo5 Label4 Label12 Label5 File1 Text1 Label9 Label10 "
                          "Label7 Text4 Label8 Combo6 ComboZone";
    for (const QString& name : names.split(' '))
        EXPECT_NE(window().findChild<QWidget*>(name), nullptr) << name.toStdString();
    const std::pair<const char*, QString> lists[] = {
        {"Combo1", "8 kHz,11 kHz,22 kHz,32 kHz,44.1 kHz (CD),48 kHz"},
        {"Combo2", "Windows Wave (WAV),MPEG Layer 3 (MP3)"},
        {"Combo3", "1,2"},
        {"Combo4", "16 Kb/sec,32 Kb/sec,40 Kb/sec,48 Kb/sec,56 Kb/sec,64 Kb/sec,80 Kb/sec,96 "
                   "Kb/sec,112 Kb/sec,128 Kb/sec,160 Kb/sec,192 Kb/sec,224 Kb/sec,256 Kb/sec,320 "
                   "Kb/sec"}};
    for (const auto& [name, texts] : lists)
        EXPECT_EQ(entries(window().findChild<QComboBox*>(name)->model()).join(','), texts) << name;
    EXPECT_EQ(controls().recordButton->text() + controls().stopButton->text(), "RecStop");
}

TEST_F(WindowTest, WidthTogglesWidenAndNarrowInTheirSequence) {
    window().show();
    const auto px = [this](int twips) { return window().toPixels(twips); };
    QPushButton *expand = controls().settingsWidthButton, *output = controls().fullWidthButton;
    EXPECT_EQ(window().size(), QSize(px(2400), px(1635)));
    const std::tuple<QPushButton*, int, QString> steps[] = {
        {expand, 5790, "<< >>"}, {output, 9420, "<< <<"},
        {output, 5790, "<< >>"}, {output, 9420, "<< <<"},
        {expand, 2490, ">> >>"}, {expand, 5790, "<< >>"}}; // the full width is forgotten
    for (const auto& [button, width, texts] : steps) {
        button->click();
        EXPECT_EQ(window().frameGeometry().width(), px(width));
        EXPECT_EQ(expand->text() + " " + output->text(), texts);
    }
    EXPECT_EQ(window().height(), px(1635));
}

TEST_F(WindowTest, FirstStartSetsTheDefaultsAndClosingWritesThemAsTheOneRecordOfDefault) {
    realClock = true;
    open();
    EXPECT_TRUE(showFile("Default").isEmpty());
    EXPECT_TRUE(QDir(services.dataFolder + "/soundfiles").exists());
    EXPECT_EQ(current(), "Default - KelvoRecorder|Default|44.1 kHz (CD)");
    EXPECT_EQ(controls().wmaQuality->currentText(), "WMA");
    EXPECT_EQ(entries(controls().sourceList->model()),
              QStringList({"Microphone", "Line In", "Monitor of Speakers"}));
    EXPECT_EQ(mixer.selectionWrites, (std::vector<std::vector<std::int32_t>>{{1, 0, 0}}));
    EXPECT_EQ(mixer.volumeWrites,
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{11, 32768}}));
    EXPECT_EQ(controls().clockLabel->text(), " 9:05:03 PM");
    for (const QTimer* timer :
         {controls().clockTick, controls().meterPoll, controls().rightPeakHold,
          controls().leftPeakHold, controls().blink, controls().monitoringLimit}) {
        EXPECT_EQ(timer->isActive(), timer == controls().clockTick) << "only the clock runs";
    }
    EXPECT_EQ(desktop.installs, 1) << "the association is written at every start";
    EXPECT_EQ(messages, QStringList());

    window().move(100, 60);
    window().close();
    EXPECT_EQ(showFile("Default"),
              "\"1:00:00 AM\",\"5:00:00 AM\",\"Windows Wave (WAV)\",\"44.1 kHz (CD)\",\"64 "
              "Kb/sec\",\"2\",1500,900,\"Microphone\",50,\"\",\"\",1,1,1,1,1,1,1\r\n");
}

// The controls and the current show follow each other; a change the program makes to the
// show runs the control's handlers as the user's change would.
TEST_F(WindowTest, TheControlsAndTheCurrentShowFollowEachOther) {
    open();
    CurrentShow& show = window().currentShow();
    controls().outputFormat->setCurrentText("MPEG Layer 3 (MP3)");
    controls().weekdays[0]->setChecked(false);
    controls().webcastAddress->setText("http://radio.example/");
    controls().stopTime->setTime(QTime(6, 30));
    EXPECT_EQ(show.file().outputFormat, "MPEG Layer 3 (MP3)");
    EXPECT_EQ(show.file().weekdays[0], 0);
    EXPECT_EQ(show.file().webcastAddress, "http://radio.example/");
    EXPECT_EQ(show.file().stopTime, (TimeOfDay{6, 30, 0}));

    show.setSampleRate("22 kHz"); // too low for MP3: the format rule runs
    EXPECT_EQ(controls().sampleRate->currentText(), "22 kHz");
    EXPECT_EQ(controls().outputFormat->currentText(), "Windows Wave (WAV)");
    EXPECT_FALSE(controls().outputFormat->isEnabled());
    EXPECT_EQ(show.file().outputFormat, "Windows Wave (WAV)");

    show.setSourceName("Line In");
    show.setInputLevel(20);
    EXPECT_EQ(controls().sourceList->currentText(), "Line In");
    EXPECT_EQ(controls().inputLevel->value(), 20);
    EXPECT_EQ(mixer.selectionWrites.back(), (std::vector<std::int32_t>{0, 1, 0}));
    EXPECT_EQ(mixer.volumeWrites.back(), (std::pair<std::uint32_t, std::uint32_t>{21, 52428}));
    show.setSourceName("No Such Source"); // never replaced by the entry the list had
    EXPECT_EQ(controls().sourceList->currentIndex(), -1);
    EXPECT_EQ(show.file().sourceName, "No Such Source");
    show.setSourceName("Line In");
    window().close();
    EXPECT_EQ(
        showFile("Default"),
        "\"1:00:00 AM\",\"6:30:00 AM\",\"Windows Wave (WAV)\",\"22 kHz\",\"64 Kb/sec\",\"2\"," +
            QByteArray::number(window().x() * 15) + "," + QByteArray::number(window().y() * 15) +
            ",\"Line In\",20,\"http://radio.example/\",\"\",0,1,1,1,1,1,1\r\n");
}

// No sound server when the program starts: the window opens and waits for it, the show's
// schedule running meanwhile; only with nothing due does it give up, with the mixer's message.
TEST_F(WindowTest, NoSoundServerAtStartIsWaitedForUnlessNothingIsDue) {
    struct Case {
        const char* start;
        int devices;
        MixerResult open;
        const char* dueShowStart; // a show file of its own starting then; null: none
        bool everyShow;
        QStringList messages; // when the wait is decided, 11 s in
    };
    const QString noMixer = "Kelvo Mixer - Error|Unable to detect a mixer.\r\n\r\nTerminating...";
    const Case cases[] = {
        {"nothing due: no mixer", 0, MixerResult::Ok, nullptr, false, {noMixer}},
        {"nothing due: the mixer cannot be opened",
         1,
         MixerResult::Unreachable,
         nullptr,
         false,
         {"Kelvo Mixer - Error|Unable to open mixer.\r\n\r\nTerminating..."}},
        {"a show starts within the hour", 0, MixerResult::Ok, "9:50:00 PM", false, {}},
        {"a show is under way", 0, MixerResult::Ok, "8:00:00 PM", false, {}},
        {"a show starts later than the hour", 0, MixerResult::Ok, "11:00:00 PM", false, {noMixer}},
        {"every show on its schedule", 0, MixerResult::Ok, nullptr, true, {}},
    };
    // Line In, due at no time of these cases.
    const QByteArray quiet =
        QByteArray(kMorning)
            .replace("6:00:00 AM\",\"5:00:00 AM", "10:00:00 AM\",\"11:00:00 AM")
            .replace("0,1,1,1,1,1,0", "1,1,1,1,1,1,1");
    const QByteArray evening = kEvening;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        QDir(services.dataFolder + "/configurations").removeRecursively();
        write(showPath("A"), quiet);
        if (c.dueShowStart) {
            write(showPath("Due"), QByteArray(evening).replace("1:00:00 AM", c.dueShowStart));
        }
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "KelvoRecorder", "KelvoRecorder")
            .setValue("recordEveryShow", c.everyShow);
        messages.clear();
        mixer.devices = c.devices;
        mixer.openResult = c.open;
        open({showPath("A").toStdString()});
        QSignalSpy ended(&window(), &MainWindow::endRequested);
        EXPECT_EQ(controls().statusLine->text(), MainWindow::kWaitingForServer);
        EXPECT_EQ(controls().sourceList->count(), 0);
        EXPECT_TRUE(current().startsWith("A - KelvoRecorder")) << "the show is loaded meanwhile";
        now = now.addSecs(4);
        window().soundServerWait().retry();
        EXPECT_TRUE(messages.isEmpty());
        now = now.addSecs(7);
        window().soundServerWait().retry();
        EXPECT_EQ(messages, c.messages);
        EXPECT_EQ(ended.size(), c.messages.isEmpty() ? 0 : 1);
        EXPECT_EQ(window().waitingForSoundServer(), c.messages.isEmpty());
        if (!c.messages.isEmpty()) {
            window().close();
            EXPECT_EQ(showFile("A"), quiet) << "nothing is saved";
            continue;
        }
        // The server comes: the sources fill and the show's own source is chosen.
        mixer.devices = 1;
        mixer.openResult = MixerResult::Ok;
        now = now.addSecs(60);
        window().soundServerWait().retry();
        EXPECT_FALSE(window().waitingForSoundServer());
        EXPECT_EQ(entries(controls().sourceList->model()),
                  (QStringList{"Microphone", "Line In", "Monitor of Speakers"}));
        EXPECT_EQ(controls().sourceList->currentText(), "Line In");
        EXPECT_EQ(controls().statusLine->text(), "Idle");
        window().close();
        EXPECT_TRUE(showFile("A").contains(",\"Line In\",30,")) << showFile("A").toStdString();
    }
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "KelvoRecorder", "KelvoRecorder")
        .setValue("recordEveryShow", false);
}

// The show asks for "Line In", which is unloaded: it is recorded as asked (the engine waits
// for it), nothing else is switched on, and the show file keeps it.
TEST_F(WindowTest, AShowsSourceThatIsNotThereStaysItsSourceInTheFileAndTheRecording) {
    mixer = FakeMixer::withSources({"Microphone", "Monitor of Speakers"});
    write(showPath("A"), kMorning);
    open({showPath("A").toStdString()});
    EXPECT_EQ(controls().sourceList->currentIndex(), -1);
    EXPECT_EQ(controls().sourceList->placeholderText(), "Line In (not there)");
    const auto writes = mixer.selectionWrites;
    controls().recordButton->click();
    EXPECT_TRUE(controls().statusLine->text().startsWith("Rec WebCast: Line In"))
        << controls().statusLine->text().toStdString();
    EXPECT_EQ(mixer.selectionWrites, writes) << "no other source is switched on";
    window().close();
    EXPECT_TRUE(showFile("A").contains(",\"Line In\",30,")) << showFile("A").toStdString();
}

TEST_F(WindowTest, ClosingStopsTheRecordingOrMonitoringOnceThenSavesTheShow) {
    for (const bool recording : {true, false}) {
        SCOPED_TRACE(recording ? "a paused recording" : "monitoring");
        open();
        controls().sourceList->setCurrentText("Line In");
        controls().inputLevel->setValue(recording ? 40 : 30);
        if (recording) {
            controls().recordButton->click();
            controls().pauseButton->click();
        } else {
            controls().monitorSource->setChecked(true);
        }
        engine.calls.clear();
        window().close();
        EXPECT_EQ(engine.calls, Calls{"stopMonitor"});
        EXPECT_FALSE(window().recording().isRecording() || window().monitoring().isMonitoring());
        EXPECT_TRUE(
            showFile("Default").contains(recording ? ",\"Line In\",40," : ",\"Line In\",30,"));
    }
}

// The monitoring's busy message and its limit during a recording are the meters' tests.
TEST_F(WindowTest, RecordingTakesTheEngineOverFromMonitoringAndHandsTheBoxBack) {
    open();
    controls().monitorSource->setChecked(true);
    ASSERT_TRUE(window().monitoring().isMonitoring());
    engine.calls.clear();
    controls().recordButton->click();
    // The doubled mixer knows no server names: the engine is told the default source.
    EXPECT_EQ(engine.calls, (Calls{"stopMonitor", "setSource ", "initialize", "startMonitor"}));
    EXPECT_FALSE(window().monitoring().isMonitoring());
    EXPECT_TRUE(controls().monitorSource->isChecked() && !controls().monitorSource->isEnabled())
        << "ticked, locked, but not monitoring";
    EXPECT_TRUE(controls().meterPoll->isActive()) << "the recording drives the meters";
    controls().stopButton->click();
    EXPECT_FALSE(controls().meterPoll->isActive());
    EXPECT_TRUE(controls().leftPeakHold->isActive() && controls().rightPeakHold->isActive())
        << "the hold marks still fall back";
    EXPECT_TRUE(!controls().monitorSource->isChecked() && controls().monitorSource->isEnabled());
    EXPECT_FALSE(window().monitoring().isMonitoring());
    EXPECT_EQ(messages, QStringList());
}

TEST_F(WindowTest, AScheduledShowKeepsTheMachineAwakeFromTwoMinutesBeforeAndIsNotified) {
    open();
    controls().sourceList->setCurrentText("Line In");
    controls().startTime->setTime(now.time().addSecs(150));
    controls().stopTime->setTime(now.time().addSecs(210));
    const auto tickAt = [this](int seconds) {
        now = now.addSecs(seconds);
        window().clockTick();
    };
    tickAt(1);
    EXPECT_TRUE(inhibitor.log.empty()) << "two and a half minutes ahead: not yet";
    tickAt(30);
    EXPECT_EQ(inhibitor.log, Calls{"hold Recording Default soon"});
    tickAt(119);
    ASSERT_TRUE(window().recording().isRecording());
    EXPECT_EQ(notifier.sent, Calls{"Recording Default | From Line In into "
                                   "soundfiles/Default-03-05-04-21-07-33.wav"});
    tickAt(60);
    EXPECT_FALSE(window().recording().isRecording());
    EXPECT_EQ(notifier.sent.back(), "Recording Default ended: 0:01:00, all well | "
                                    "soundfiles/Default-03-05-04-21-07-33.wav, 0:01:00");
    EXPECT_EQ(inhibitor.log, (Calls{"hold Recording Default soon", "release"}));
    EXPECT_FALSE(inhibitor.held);

    // A failed start while monitoring: the box does not stay ticked over nothing.
    controls().monitorSource->setChecked(true);
    ASSERT_TRUE(window().monitoring().isMonitoring());
    engine.startResult = -3;
    controls().recordButton->click();
    EXPECT_FALSE(window().recording().isRecording() || window().monitoring().isMonitoring());
    EXPECT_FALSE(controls().monitorSource->isChecked());
    EXPECT_EQ(messages, QStringList{RecordingController::kEngineMessage});
}

// A page webcast set to open early is opened once, that long before its scheduled start, and
// not again by the start; a show that records its stream opens nothing at all.
TEST_F(WindowTest, APageWebcastOpensAheadOfItsScheduledStartAndAStreamShowOpensNothing) {
    open();
    const std::string page = "http://radio.example/page";
    controls().webcastAddress->setText(QString::fromStdString(page));
    controls().openEarly->setValue(30);
    for (const bool stream : {false, true}) {
        controls().recordStream->setChecked(stream);
        controls().startTime->setTime(now.time().addSecs(100));
        controls().stopTime->setTime(now.time().addSecs(160));
        launcher.launches.clear();
        // Seconds on from the last tick, and the browsers opened by then.
        const std::pair<int, std::size_t> ticks[] = {{1, 0}, {68, 0}, {1, 1}, {29, 1}, {1, 1}};
        for (const auto& [seconds, opened] : ticks) {
            now = now.addSecs(seconds);
            window().clockTick();
            EXPECT_EQ(launcher.launches.size(), stream ? 0 : opened) << "stream " << stream;
        }
        EVENTUALLY_TRUE(window().recording().isRecording()); // a stream once connected
        EXPECT_EQ(window().recording().session()->streamAddress.toStdString(), stream ? page : "");
        if (!stream) {
            EXPECT_EQ(launcher.launches[0], (Calls{"xdg-open", page, ""}));
        }
        controls().stopButton->click();
        now = now.addSecs(60);
    }
}

class ShowTest : public WindowTest {
protected:
    ShowTest() {
        write(showPath("A"), kMorning);
        write(showPath("B"), kEvening);
    }
};

// The Recordings window as a user works it: Ctrl+R lists the current show's recordings from
// their reports, newest first with the running one on top, all shows on request; it plays a
// recording, follows the running one to its end, and moves one with its report to the trash.
TEST_F(ShowTest, TheRecordingsWindowListsPlaysFollowsAndTrashesTheRecordings) {
    const QString trashHome = services.dataFolder + "/home";
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(trashHome)); // a trash on the same disk
    now = QDateTime(QDate(2004, 3, 5), QTime(5, 10, 0));    // A's schedule leaves 5:00 to 6:00 free
    open({showPath("A").toStdString()});
    const QString sound = services.dataFolder + "/soundfiles/";
    const auto record = [this](int seconds, std::uint32_t gaps, bool stop = true) {
        KelvoStatus s{};
        s.deviceState = KELVO_DEVICE_CAPTURING;
        s.bytesWritten = 22000ull * 4 * seconds; // A records 22 kHz stereo
        s.gaps = gaps;
        s.framesFilled = gaps * 22000ull;
        s.parts = 1;
        engine.statusValue = s;
        controls().recordButton->click();
        window().recording().pollStatus();
        if (stop) {
            now = now.addSecs(seconds);
            controls().stopButton->click();
            now = now.addSecs(60);
        }
    };
    record(60, 1);
    record(30, 0);
    RecordingReport other;
    other.show = "B";
    other.startedAt = QDateTime(QDate(2003, 1, 1), QTime(8, 0));
    other.parts = {{"soundfiles/B.wav", EncoderState::Made, 0, {}}};
    ASSERT_EQ(writeReport(sound + "B.wav.json", other), QString());
    write(sound + "junk.wav.json", "{\"format\": 1, \"show\": ");
    record(10, 0, false);

    QTest::keyClick(&window(), Qt::Key_R, Qt::ControlModifier);
    RecordingsWindow* recordings = window().recordingsWindow();
    ASSERT_TRUE(recordings && recordings->isVisible());
    auto* list = recordings->findChild<QTreeWidget*>("recordingsList");
    const auto rows = [list] {
        Calls seen;
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            const QTreeWidgetItem* item = list->topLevelItem(row);
            seen.push_back(
                (item->text(1) + " " + item->text(2) + " " + item->text(4)).toStdString());
        }
        return seen;
    };
    const Calls ofA{"A 0:00:30 all well", "A 0:01:00 1 gap of 1 s"};
    EXPECT_EQ(rows(), (Calls{"A 0:00:10 recording: all well so far", ofA[0], ofA[1]}));
    recordings->findChild<QCheckBox*>("allShows")->click();
    EXPECT_EQ(rows(), (Calls{"A 0:00:10 recording: all well so far", ofA[0], ofA[1],
                             "B 0:00:00 all well"}));

    list->setCurrentItem(list->topLevelItem(2));
    EXPECT_TRUE(
        recordings->findChild<QPlainTextEdit*>("report")->toPlainText().contains("\"count\": 1"));
    recordings->findChild<QPushButton*>("play")->click();
    const QString gapped = sound + "A-03-05-04-05-10-00.wav";
    EXPECT_EQ(launcher.launches.back(), (Calls{"xdg-open", gapped.toStdString(), ""}));

    controls().stopButton->click();
    EVENTUALLY_EQ_WITHIN(rows().front(), "A 0:00:10 all well", 2 * RecordingsWindow::kRefreshMs);
    EXPECT_EQ(list->currentItem()->text(2), "0:01:00") << "the selection stays with its recording";
    recordings->findChild<QPushButton*>("moveToTrash")->click();
    EXPECT_EQ(rows(), (Calls{"A 0:00:10 all well", ofA[0], "B 0:00:00 all well"}));
    EXPECT_FALSE(QFile::exists(gapped) || QFile::exists(gapped + ".json"));
    EXPECT_TRUE(QFile::exists(trashHome + "/Trash/files/A-03-05-04-05-10-00.wav.json"));
    qputenv("XDG_DATA_HOME", dataHome);
}

// Settings kept beside a show's file are the show's own: saved with it, loaded with it, never
// carried into a show that has none, and copied when the show is saved under a new name. They
// are set on their controls (the webcast's and the time zone), and the controls show each
// show's.
TEST_F(ShowTest, SettingsKeptBesideTheShowFileFollowTheirShow) {
    open({showPath("A").toStdString()});
    const auto webcastControls = [this] {
        const MainWindowControls& c = controls();
        return QString("%1%2%3 %4%5 %6")
            .arg(c.recordStream->isChecked())
            .arg(c.keepStream->isChecked())
            .arg(c.openEarly->value())
            .arg(c.keepStream->isEnabled())
            .arg(c.openEarly->isEnabled())
            .arg(c.timeZone->currentText());
    };
    EXPECT_EQ(webcastControls(), "000 01 Computer's zone")
        << "off by default; keeping needs the stream";
    QComboBox* zones = controls().timeZone;
    const int newYork = zones->findText("America/New_York");
    ASSERT_GT(newYork, 0);
    zones->setCurrentIndex(newYork); // picked from the list
    emit zones->activated(newYork);
    controls().openEarly->setValue(30);
    controls().recordStream->click();
    controls().keepStream->click();
    const ShowSideSettings side{{{"timeZone", "America/New_York"},
                                 {"recordStream", "1"},
                                 {"keepStream", "1"},
                                 {"openEarlySeconds", "30"}}};
    EXPECT_EQ(window().currentShow().settings().side, side);
    EXPECT_EQ(webcastControls(), "1130 10 America/New_York");
    QTest::keyClick(controls().showList, Qt::Key_Down);
    EVENTUALLY_EQ(window().shows().currentShowName(), std::string("B"));
    EXPECT_EQ(window().currentShow().settings().side, ShowSideSettings{});
    EXPECT_EQ(webcastControls(), "000 01 Computer's zone");
    EXPECT_EQ(showFile("B"), kEvening);
    window().shows().chooseShow("A");
    EXPECT_EQ(window().currentShow().settings().side, side);
    EXPECT_EQ(webcastControls(), "1130 10 America/New_York");
    EXPECT_EQ(showFile("A"), kMorning) << "the show file is as it was";
    typeName("A2", Qt::Key_Return);
    window().close();
    EXPECT_EQ(read(services.dataFolder + "/show-settings/A2"),
              "keepStream=1\nopenEarlySeconds=30\nrecordStream=1\ntimeZone=America/New_York\n");
}

// The time-zone list as typed into: a zone's name in any letter case is taken as the list
// spells it, the first entry or nothing removes the zone, and a name no zone has is refused,
// told, and replaced by the show's zone; the next tick schedules in what was taken. A stored
// name the system does not know is shown and kept as stored, told once, and the schedule
// follows the computer's zone, as its message says.
TEST_F(ShowTest, TheTimeZoneListTakesOnlyZonesAndTheScheduleFollowsIt) {
    now = QDateTime(QDate(2004, 3, 5), QTime(5, 10, 0)); // before A's start here: nothing records
    open({showPath("A").toStdString()});
    window().clockTick(); // a zone chosen later is no start, like a time edited
    const auto type = [&](const QString& text) {
        QComboBox* zones = controls().timeZone;
        controls().statusLine->setText("Idle");
        zones->lineEdit()->clear();
        QTest::keyClicks(zones->lineEdit(), text);
        QTest::keyClick(zones->lineEdit(), Qt::Key_Return);
        window().clockTick();
        return QString("%1|%2|%3|%4")
            .arg(zones->currentText(), QString::fromStdString(window().currentShow().timeZone()),
                 controls().statusLine->text())
            .arg(controls().statusLine->toolTip().contains(" in Tokyo)"));
    };
    const std::pair<const char*, const char*> typed[] = {
        {"asia/tokyo", "Asia/Tokyo|Asia/Tokyo|Idle|1"},
        {"Mars/Olympus", "Asia/Tokyo|Asia/Tokyo|Unknown time zone: Mars/Olympus|1"},
        // Below the zone folder this is a file, which must not be read as a zone.
        {"../../../etc/localtime",
         "Asia/Tokyo|Asia/Tokyo|Unknown time zone: ../../../etc/localtime|1"},
        {"US/Eastern", "US/Eastern|US/Eastern|Idle|0"}, // a zone the list names otherwise
        {" Europe/Oslo ", "Europe/Oslo|Europe/Oslo|Idle|0"},
        {"", "Computer's zone||Idle|0"},
        {"Asia/Tokyo", "Asia/Tokyo|Asia/Tokyo|Idle|1"},
        {"COMPUTER'S ZONE", "Computer's zone||Idle|0"},
    };
    for (const auto& [text, expected] : typed)
        EXPECT_EQ(type(text), expected) << text;
    EXPECT_EQ(window().currentShow().settings().side, ShowSideSettings{});

    write(showPath("Mars"), kMorning);
    write(services.dataFolder + "/show-settings/Mars", "timeZone=Mars/Olympus\n");
    notifier.sent.clear();
    open({showPath("Mars").toStdString()});
    ASSERT_EQ(notifier.sent.size(), 1u);
    const QString told = "Show \"Mars\": Unknown time zone: Mars/Olympus; its times are read in "
                         "the computer's time zone.";
    EXPECT_EQ(notifier.sent[0], "KelvoRecorder | " + told.toStdString());
    EXPECT_EQ(controls().statusLine->text(), told);
    EXPECT_EQ(controls().timeZone->currentText(), "Mars/Olympus");
    // Left as shown, so nothing was typed to refuse.
    emit controls().timeZone->lineEdit()->editingFinished();
    window().clockTick();
    EXPECT_EQ(notifier.sent.size(), 1u);
    EXPECT_EQ(controls().statusLine->toolTip(), "Next: Mars, Fri 06:00");
    window().close();
    EXPECT_EQ(read(services.dataFolder + "/show-settings/Mars"), "timeZone=Mars/Olympus\n");
}

TEST_F(ShowTest, SwitchingSavesTheOldShowThenLoadsTheNewOneButChoosingItAgainDoesNothing) {
    open({showPath("A").toStdString()});
    controls().inputLevel->setValue(40);
    QTest::keyClick(controls().showList, Qt::Key_Down);
    EVENTUALLY_EQ(current(), QString("B - KelvoRecorder|B|48 kHz"));
    // Every field loaded into the window comes back: the whole show round-trips.
    EXPECT_EQ(showFile("A"), QByteArray(kMorning).replace(",30,", ",40,"));
    EXPECT_EQ(showFile("B"), kEvening);
    // MP3 survives the switch from a show whose sample rate was too low for it.
    EXPECT_EQ(controls().outputFormat->currentText(), "MPEG Layer 3 (MP3)");
    EXPECT_TRUE(controls().mp3Quality->isEnabled());
    EXPECT_EQ(mixer.selectionWrites.back(), (std::vector<std::int32_t>{0, 0, 1}));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window().frameGeometry().topRight())) << "moved, but reachable";

    controls().sampleRate->setCurrentText("8 kHz");
    window().shows().showChosen(); // the selected entry is the current show
    EXPECT_EQ(showFile("B"), kEvening);
    EXPECT_EQ(controls().sampleRate->currentText(), "8 kHz") << "not loaded again";
    EXPECT_EQ(messages, QStringList());
}

// A recording belongs to the show it started with: a show opened meanwhile (here from the
// desktop, handed over to the running recorder) changes nothing that is told about it.
TEST_F(ShowTest, EveryNoticeOfARecordingNamesItsShowAfterAnotherShowIsLoaded) {
    std::optional<std::uint64_t> room;
    services.freeSpace = [&room](const QString&) { return room; };
    open({showPath("A").toStdString()});
    constexpr std::uint64_t kBytesPerSecond = 22000 * 4; // A records 22 kHz stereo
    const auto poll = [this](int device, std::uint32_t gaps, int writeError = 0) {
        KelvoStatus s{};
        s.deviceState = device;
        s.lastWriteError = writeError;
        s.bytesWritten = kBytesPerSecond * 60;
        s.gaps = gaps;
        s.parts = 1;
        s.lastGapFrames = 22000 * 3 / 2;
        s.framesFilled = gaps * s.lastGapFrames;
        engine.statusValue = s;
        window().recording().pollStatus();
    };
    const auto openB = [this] {
        window().openHandedOver({"B"}, QFile::encodeName(services.dataFolder + "/configurations"));
        ASSERT_EQ(window().shows().currentShowName(), "B");
    };
    const std::string file = "soundfiles/A-03-05-04-21-05-05";

    // Started by A's schedule, then B is opened.
    controls().startTime->setTime(QTime(21, 5, 5));
    now = now.addSecs(2);
    window().clockTick();
    ASSERT_TRUE(window().recording().isRecording());
    openB();
    poll(KELVO_DEVICE_RECONNECTING, 1);
    poll(KELVO_DEVICE_CAPTURING, 1);
    room = kBytesPerSecond * 60 * 4;
    poll(KELVO_DEVICE_CAPTURING, 1);
    EXPECT_TRUE(controls().statusLine->text().startsWith("Rec WebCast: ")) << "A's address";
    controls().stopButton->click();
    EXPECT_EQ(notifier.sent,
              (Calls{"Recording A | From Line In into " + file + ".wav",
                     "Recording A: sound device lost | Silence is recorded until it is back.",
                     "Recording A: sound device back | Gap of 1.5 s filled with silence.",
                     "Only 4 min of space left for A | Recording goes on into " + file + ".wav",
                     "Recording A ended: 0:01:00, 1 gap of 1.5 s | " + file + ".wav, 0:01:00"}));
    EXPECT_EQ(inhibitor.log, (Calls{"hold Recording A", "release"}));

    // Started by hand, then B is opened, and the disk fills up.
    notifier.sent.clear();
    window().shows().chooseShow("A");
    room.reset();
    engine.statusValue.reset();
    controls().recordButton->click();
    openB();
    poll(KELVO_DEVICE_CAPTURING, 0, ENOSPC);
    EXPECT_FALSE(window().recording().isRecording());
    EXPECT_EQ(notifier.sent, Calls{"Recording A stopped: disk full | " + file +
                                   "-2.wav kept, 0:01:00 recorded; no MP3 made."});
    EXPECT_EQ(inhibitor.log.at(2), "hold Recording A");
}

TEST_F(ShowTest, NamingSavesTheScreenUnderAValidTypedNameAndLoadsItOnce) {
    // A real message box takes the focus from the name box; that must not commit again.
    services.messages = [this](const QString& text) {
        messages << text;
        controls().webcastAddress->setFocus();
    };
    open({showPath("A").toStdString()});
    controls().sampleRate->setCurrentText("11 kHz");
    const std::size_t loads = mixer.selectionWrites.size(); // one per load

    typeName("B", Qt::Key_Return);
    EXPECT_EQ(showFile("B"), QByteArray(kMorning).replace("22 kHz", "11 kHz"));
    EXPECT_EQ(showFile("A"), kMorning) << "the show current before is not saved";
    EXPECT_EQ(current(), "B - KelvoRecorder|B|11 kHz");
    EXPECT_EQ(mixer.selectionWrites.size(), loads + 1);
    EXPECT_TRUE(controls().showList->isVisible() && !controls().showName->isVisible());

    typeName("Zzz", Qt::Key_Escape);
    EXPECT_EQ(showFile("Zzz"), "(missing)");
    EXPECT_EQ(current(), "B - KelvoRecorder|B|11 kHz");
    EXPECT_FALSE(controls().showName->isVisible());

    typeName("Evening", std::nullopt);
    controls().webcastAddress->setFocus(); // leaving the box commits as Enter does
    EXPECT_EQ(current(), "Evening - KelvoRecorder|Evening|11 kHz");
    EXPECT_EQ(messages, QStringList());

    typeName("a/b", Qt::Key_Return);
    EXPECT_EQ(messages, QStringList{"A show name cannot contain \"/\"."});
    EXPECT_TRUE(controls().showName->isVisible()) << "the user may correct the name";
    controls().showName->setText("..");
    controls().webcastAddress->setFocus();
    EXPECT_EQ(messages.size(), 1) << "focus loss asks nothing";
    EXPECT_FALSE(controls().showName->isVisible());
    EXPECT_EQ(entries(controls().showList->model()), QStringList({"A", "B", "Evening"}));

    // A new name leaves room for its recordings' names.
    const QString longest(int(kMaxNewShowNameBytes), 'x');
    typeName(longest + "x", Qt::Key_Return);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[1].contains("at most 225 bytes")) << messages[1].toStdString();
    controls().showName->setText(longest);
    QTest::keyClick(controls().showName, Qt::Key_Return);
    EXPECT_EQ(window().windowTitle(), longest + " - KelvoRecorder");
    controls().recordButton->click();
    EXPECT_TRUE(window().recording().isRecording()) << messages.join('\n').toStdString();
    controls().stopButton->click();
    EXPECT_EQ(messages.size(), 2);
}

// The ways a user deletes the show the list shows: the X button, the Del key on the list,
// and "Delete show" in the menu of a right-click on the entry.
void deleteShownShow(const MainWindowControls& c, int way) {
    QListWidget& list = *c.showList;
    if (way == 0) {
        c.deleteShowButton->click();
    } else if (way == 1) {
        list.setFocus();
        QTest::keyClick(&list, Qt::Key_Delete);
    } else {
        // The one-line list shows what it was scrolled to, which need not be the selection.
        const QPoint at =
            list.visualItemRect(list.item(list.verticalScrollBar()->value())).center();
        QTest::mousePress(list.viewport(), Qt::RightButton, {}, at);
        QTest::mouseRelease(list.viewport(), Qt::RightButton, {}, at);
        QTimer::singleShot(0, [] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_TRUE(menu);
            const QStringList texts{menu->actions()[0]->text(), menu->actions()[1]->text(),
                                    menu->actions()[3]->text()};
            EXPECT_EQ(texts, QStringList({"Delete show", "Recordings…",
                                          "Record every show on its schedule"}));
            menu->actions()[0]->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
        QApplication::sendEvent(list.viewport(), &event);
    }
}

TEST_F(ShowTest, DeletingTheCurrentShowLoadsTheFirstLeftAndTheLastLeavesDefault) {
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        write(showPath("A"), kMorning);
        QFile::remove(showPath("Default"));
        QFile::remove(showPath("B"));
        write(showPath("b"), kEvening);
        open({showPath("b").toStdString()});
        EXPECT_EQ(entries(controls().showList->model()), QStringList({"A", "b"}))
            << "sorted by name";
        deleteShownShow(controls(), way);
        EXPECT_EQ(showFile("b"), "(missing)");
        EXPECT_EQ(current(), "A - KelvoRecorder|A|22 kHz");
        EXPECT_EQ(showFile("A"), kMorning) << "neither show was saved";
        deleteShownShow(controls(), way);
        EXPECT_EQ(entries(controls().showList->model()), QStringList{"Default"});
        EXPECT_TRUE(showFile("Default").isEmpty());
        EXPECT_EQ(current(), "Default - KelvoRecorder|Default|22 kHz")
            << "an empty show loads nothing";
    }
}

TEST_F(ShowTest, ARightClickDeletesTheShowClickedNotTheOneSelectedBefore) {
    open({showPath("B").toStdString()});
    controls().showList->scrollToTop(); // the wheel shows "A"; "B" is still selected
    deleteShownShow(controls(), 2);
    EXPECT_EQ(showFile("A"), "(missing)");
    EXPECT_NE(showFile("B"), "(missing)");
    EXPECT_EQ(current(), "B - KelvoRecorder|B|48 kHz");
}

TEST_F(ShowTest, CommandLineAndDropsNameTheShowByItsFileNameOnlyAndALinkDropChangesNothing) {
    QTemporaryDir elsewhere;
    QFile::rename(showPath("A"), showPath("My Morning.cia"));
    write(elsewhere.path() + "/Evening.cia", kEvening);
    write(elsewhere.path() + "/One", kMorning);
    write(elsewhere.path() + "/Three.cia", kEvening);
    // The desktop may split the path at its blanks: together the arguments are the path.
    open({showPath("My").toStdString(), "Morning.cia"});
    EXPECT_EQ(current(), "My Morning - KelvoRecorder|My Morning.cia|22 kHz");

    // A show file from elsewhere is imported, then loaded from configurations, and what it
    // will open when it records is told without a box.
    open({(elsewhere.path() + "/Evening.cia").toStdString()});
    EXPECT_EQ(current(), "Evening - KelvoRecorder|Evening.cia|48 kHz");
    EXPECT_EQ(showFile("Evening.cia"), kEvening);
    EXPECT_EQ(messages, QStringList());
    EXPECT_EQ(controls().statusLine->text(),
              "The show \"Evening.cia\" was imported from " + elsewhere.path() +
                  "/Evening.cia. When it records, it opens no webcast address.");
    write(elsewhere.path() + "/Morning", kMorning);
    notifier.sent.clear();
    window().openHandedOver({QFile::encodeName(elsewhere.path() + "/Morning")}, "/");
    EXPECT_EQ(notifier.sent, std::vector<std::string>{"KelvoRecorder | The show \"Morning\" was "
                                                      "imported from " +
                                                      elsewhere.path().toStdString() +
                                                      "/Morning. When it records, it opens the "
                                                      "webcast address http://a.example/live."});
    EXPECT_EQ(messages, QStringList());
    // Never over an existing show: that one loads, and the user hears why.
    write(elsewhere.path() + "/Evening.cia", kMorning);
    open({(elsewhere.path() + "/Evening.cia").toStdString()});
    EXPECT_EQ(current(), "Evening - KelvoRecorder|Evening.cia|48 kHz");
    EXPECT_EQ(showFile("Evening.cia"), kEvening);
    EXPECT_TRUE(controls().statusLine->text().startsWith(
        "A show named \"Evening.cia\" already exists, so " + elsewhere.path() +
        "/Evening.cia was not imported"))
        << controls().statusLine->text().toStdString();

    open({"\"" + showPath("Evening.cia").toStdString() + "\""});
    EXPECT_EQ(current(), "Default - KelvoRecorder|Default|44.1 kHz (CD)");

    messages.clear();
    controls().sampleRate->setCurrentText("8 kHz");
    EXPECT_FALSE(drop({QUrl("https://radio.example.com/live.m3u")}));
    EXPECT_EQ(current(), "Default - KelvoRecorder|Default|8 kHz") << "a link changes nothing";
    EXPECT_TRUE(showFile("Default").isEmpty());
    EXPECT_EQ(messages, QStringList());
    // The last file decides.
    EXPECT_TRUE(drop({QUrl::fromLocalFile(elsewhere.path() + "/One"),
                      QUrl::fromLocalFile(elsewhere.path() + "/Two"),
                      QUrl::fromLocalFile(elsewhere.path() + "/Three.cia")}));
    EXPECT_EQ(current(), "Three - KelvoRecorder|Three.cia|48 kHz") << "imported as well";
    EXPECT_EQ(showFile("Three.cia"), kEvening);
    EXPECT_TRUE(showFile("Default").isEmpty()) << "the show current before is not written";
    EXPECT_EQ(showFile("One"), "(missing)");
}

// What is on screen after a failed load is not that show's settings: neither leaving it nor
// closing the window may write them into its file. Naming it again does, on purpose.
TEST_F(ShowTest, AShowThatFailedToLoadIsNeverSavedOverByExitOrSwitching) {
    const QByteArray huge(2 << 20, ' ');
    write(showPath("Huge"), huge);
    write(showPath("Locked"), kEvening);
    QFile::setPermissions(showPath("Locked"), QFileDevice::Permissions());
    for (const QString name : {"Huge", "Locked"}) {
        SCOPED_TRACE(name.toStdString());
        {
            // The permissions apply until the window is closed; the file is read afterwards.
            WithoutFileCapabilities capabilities;
            if (!capabilities.usable()) {
                GTEST_SKIP() << "cannot drop root's file capabilities here";
            }
            messages.clear();
            open({showPath(name).toStdString()});
            EXPECT_EQ(messages, QStringList()) << "no box stops a load";
            EXPECT_TRUE(controls().statusLine->text().contains("its file was left untouched"))
                << controls().statusLine->text().toStdString();
            controls().sampleRate->setCurrentText("8 kHz");
            controls().showList->setCurrentRow(0); // "A", saving nothing over the show left
            EVENTUALLY_EQ(current(), QString("A - KelvoRecorder|A|22 kHz"));
            EXPECT_EQ(showFile("A"), kMorning);
            controls().showList->setCurrentRow(name == "Huge" ? 2 : 3);
            EVENTUALLY_TRUE(window().windowTitle().startsWith(name));
            window().close();
            EXPECT_EQ(showFile("A"), kMorning);
        }
        EXPECT_EQ(showFile(name), name == "Huge" ? huge : kEvening);
    }
    {
        WithoutFileCapabilities capabilities;
        open({showPath("Locked").toStdString()});
        typeName("Locked", Qt::Key_Return); // the user saves it on purpose
    }
    EXPECT_TRUE(showFile("Locked").startsWith("\"1:00:00 AM\",\"5:00:00 AM\",\"Windows Wave"))
        << showFile("Locked").toStdString();
}

TEST_F(ShowTest, AShowNamedInLatin1OpensAndSavesIntoItsOwnFile) {
    const std::string configurations = QFile::encodeName(showPath("")).toStdString();
    const std::string latin1 = "M\xfcsik";
    std::ofstream(configurations + latin1, std::ios::binary) << kMorning.toStdString();
    const auto files = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(configurations)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    open({showPath("B").toStdString()});
    EXPECT_EQ(entries(controls().showList->model()), QStringList({"A", "B", "M\u00fcsik"}));
    controls().showList->setCurrentRow(2);
    EVENTUALLY_EQ(current(), QString("M\u00fcsik - KelvoRecorder|M\u00fcsik|22 kHz"));
    controls().sampleRate->setCurrentText("8 kHz");
    controls().showList->setCurrentRow(0);
    EVENTUALLY_EQ(current(), QString("A - KelvoRecorder|A|22 kHz"));
    std::ifstream in(configurations + latin1, std::ios::binary);
    const std::string saved{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(saved, QByteArray(kMorning).replace("22 kHz", "8 kHz").toStdString());
    EXPECT_EQ(files(), (std::vector<std::string>{"A", "B", latin1}));

    // The command line hands the name as bytes too; recordings take the readable name.
    open({configurations + latin1});
    EXPECT_EQ(current(), QString("M\u00fcsik - KelvoRecorder|M\u00fcsik|8 kHz"));
    EXPECT_EQ(files(), (std::vector<std::string>{"A", "B", latin1}));
    controls().recordButton->click();
    ASSERT_EQ(engine.starts.size(), 1u);
    EXPECT_NE(engine.starts[0].find("/soundfiles/M\u00fcsik-03-05-04-21-05-03.wav"),
              std::string::npos)
        << engine.starts[0];
    controls().stopButton->click();
    EXPECT_EQ(messages, QStringList());
}

// A show's address is opened at its start with nobody watching: what is not a network
// address is told about, never put in a box, and never holds up loading or recording.
TEST_F(ShowTest, WebcastAddressesThatAreNoNetworkAddressesAreToldAboutAndNeverOpened) {
    open({showPath("A").toStdString()});
    controls().webcastAddress->setText("--help");
    emit controls().webcastAddress->editingFinished();
    EXPECT_TRUE(controls().statusLine->text().contains("it begins with \"-\""));
    controls().recordButton->click();
    EXPECT_EQ(controls().statusLine->text(), "Rec: Line In (webcast address not opened)");
    EXPECT_TRUE(launcher.launches.empty());
    controls().stopButton->click();

    // Too long for the box: refused whole rather than cut into another address.
    const QByteArray address = "http://a.example/" + QByteArray(40000, 'x');
    write(showPath("Long"), QByteArray(kMorning).replace("http://a.example/live", address));
    write(showPath("Desktop"),
          QByteArray(kMorning).replace("http://a.example/live", "file:///tmp/x/evil.desktop"));
    for (const char* name : {"Long", "Desktop"}) {
        notifier.sent.clear();
        open({showPath(name).toStdString()});
        EXPECT_EQ(controls().webcastAddress->text(), "");
        EXPECT_EQ(controls().sampleRate->currentText(), "22 kHz") << "the rest of it loads";
        ASSERT_EQ(notifier.sent.size(), 1u);
        EXPECT_NE(notifier.sent[0].find("is not opened: it is"), std::string::npos)
            << notifier.sent[0];
        controls().recordButton->click();
        EXPECT_EQ(controls().statusLine->text(), "Rec: Line In");
        controls().stopButton->click();
    }
    EXPECT_TRUE(launcher.launches.empty());
    EXPECT_EQ(messages, QStringList());
}

TEST_F(WindowTest, ABrokenDataFolderIsToldAboutAndNeverMovesTheShows) {
    // soundfiles replaced by a file inside a writable program folder.
    write(folder.path() + "/soundfiles", "not a folder");
    EXPECT_EQ(chooseDataFolder(folder.path(), xdgDataHome.path(), "/nowhere"), folder.path());
    open();
    EXPECT_EQ(messages, QStringList{"The folder " + folder.path() +
                                    "/soundfiles cannot be used (it is a file, not a folder), so "
                                    "nothing can be recorded."});
    EXPECT_TRUE(QFileInfo(showPath("Default")).isFile()) << "the shows stay where they are";
    EXPECT_TRUE(QDir(xdgDataHome.path()).isEmpty());

    // A packaged install keeps every user's data at home, root's too.
    write(folder.path() + "/shared-install", "");
    EXPECT_EQ(chooseDataFolder(folder.path(), xdgDataHome.path(), "/nowhere"),
              xdgDataHome.path() + "/KelvoRecorder");

    // Otherwise only a program folder that cannot be written gives way to the user's data
    // folder.
    QTemporaryDir program, home;
    QFile::setPermissions(program.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    WithoutFileCapabilities capabilities;
    if (!capabilities.usable()) {
        GTEST_SKIP() << "cannot drop root's file capabilities here";
    }
    EXPECT_EQ(chooseDataFolder(program.path(), "", home.path()),
              home.path() + "/.local/share/KelvoRecorder");
    EXPECT_EQ(chooseDataFolder(program.path(), xdgDataHome.path(), home.path()),
              xdgDataHome.path() + "/KelvoRecorder");
    EXPECT_FALSE(dataFolderProblem(xdgDataHome.path() + "/KelvoRecorder"));
    EXPECT_TRUE(QDir(program.path()).isEmpty());
    const auto problem = dataFolderProblem(program.path());
    ASSERT_TRUE(problem);
    EXPECT_TRUE(problem->contains("/configurations cannot be used (Permission denied), so shows "
                                  "cannot be saved."))
        << problem->toStdString();
}

TEST(ProgramFolders, WithoutHomeTheUserDatabaseGivesTheHomeFolder) {
    const QByteArray saved = qgetenv("HOME");
    qunsetenv("HOME");
    const QString home = homeFolder();
    qputenv("HOME", saved);
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(home, QFile::decodeName(user->pw_dir));
    EXPECT_NE(home, "/") << "would make //.local/share the data folder";
}

// A logout or a service stop must not wait for someone to click OK.
TEST_F(WindowTest, ATerminationSignalEndsTheWindowWithoutWaitingOnAnyBox) {
    services.messages = {}; // real modal boxes, as in the program
    QStringList notices;
    services.endOfSessionNotices = [&notices](const QString& text) { notices << text; };
    open();
    QDir(services.dataFolder).removeRecursively();
    write(services.dataFolder + "/configurations", "a file where the folder should be");
    TerminationSignals endOfSession([this] { window().endSession(); });
    bool boxLeftOpen = false;
    QTimer watchdog; // ends a box that would otherwise hang the test
    watchdog.callOnTimeout([&boxLeftOpen] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            boxLeftOpen = true;
            modal->close();
        }
    });
    watchdog.start(1500);

    QElapsedTimer elapsed;
    elapsed.start();
    QTimer::singleShot(50, [] { std::raise(SIGTERM); });
    window().showMessage("a box already open when the session ends");
    EVENTUALLY_TRUE_WITHIN(!window().isVisible(), 1000);
    EXPECT_LT(elapsed.elapsed(), 1000);
    EXPECT_FALSE(boxLeftOpen);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].contains("could not be saved")) << notices[0].toStdString();
}

// The login start is the autostart entry on disk: turned on it starts this program minimised,
// off it is gone, and one removed from outside is off at the next start. Ticking a weekday
// offers it once, never again after that.
TEST_F(WindowTest, StartAtLoginWritesTheAutostartEntryAndIsOfferedOnce) {
    const QString entry = xdgDataHome.path() + "/config/autostart/kelvorecorder.desktop";
    // Qt keeps the settings' folder it saw first for the whole process.
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "KelvoRecorder", "KelvoRecorder")
        .remove("startAtLoginOffered");
    open();
    QAction* action = window().findChild<QAction*>("startAtLogin");
    ASSERT_NE(action, nullptr);
    EXPECT_FALSE(action->isChecked());

    controls().weekdays[3]->setChecked(false);
    controls().weekdays[3]->setChecked(true);
    EXPECT_TRUE(controls().statusLine->text().contains("Start KelvoRecorder when I log in"));
    controls().statusLine->clear();
    controls().weekdays[4]->setChecked(false);
    controls().weekdays[4]->setChecked(true);
    EXPECT_TRUE(controls().statusLine->text().isEmpty()) << "offered once";

    action->trigger();
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    file.close();
    EXPECT_TRUE(content.contains(
        "Exec=" + QFile::encodeName(QCoreApplication::applicationFilePath()) + " --minimized\n"))
        << content.toStdString();
    EXPECT_TRUE(content.contains("Icon=kelvorecorder\n"));

    open();
    EXPECT_TRUE(window().findChild<QAction*>("startAtLogin")->isChecked());
    QFile::remove(entry); // the desktop's own settings took it away
    open();
    action = window().findChild<QAction*>("startAtLogin");
    EXPECT_FALSE(action->isChecked());
    action->trigger();
    action->trigger();
    EXPECT_FALSE(QFile::exists(entry));
}

} // namespace
} // namespace kelvo
