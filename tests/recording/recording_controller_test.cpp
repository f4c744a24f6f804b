#include "recorder/recording/recording_controller.h"
#include "tests/recording/fake_capture_engine.h"
#include "tests/recording/fake_process_launcher.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace kelvo {
namespace {

using testing::FakeCaptureEngine;
using testing::FakeProcessLauncher;
using testing::StartCall;

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kDarkRed(127, 0, 0);

QColor colourOf(const QLabel& label) {
    return label.palette().color(QPalette::WindowText);
}

class RecordingControllerTest : public ::testing::Test {
protected:
    RecordingControllerTest() {
        sampleRate.addItems(sampleRateEntries());
        sampleRate.setCurrentText("44.1 kHz (CD)");
        outputFormat.addItems(outputFormatEntries());
        channels.addItems(channelEntries());
        channels.setCurrentText("2");
        mp3Quality.addItems(mp3QualityEntries());
        mp3Quality.setCurrentText("64 Kb/sec");
        for (QTimer* timer : {&meterPoll, &rightHold, &leftHold, &blink}) {
            timer->start(100000); // the controller must switch them off
        }
        // Hooks log into the engine's call list so the test sees one ordered story.
        hooks.stopMonitoring = [this] { engine.calls.push_back("hook:stopMonitoring"); };
        hooks.applySourceSelection = [this] { engine.calls.push_back("hook:applySource"); };
        hooks.clearLevelMeters = [this] { engine.calls.push_back("hook:clearMeters"); };
        hooks.sourceName = [] { return QStringLiteral("Microphone"); };
        hooks.currentShowName = [this] { return showName; };
        hooks.holdWebcastAddress = [this](const QString& address) { heldWebcast = address; };
    }

    RecordingController& controller() {
        if (!controller_) {
            RecordingWidgets widgets{&status,    &clock,      &sampleRate, &outputFormat,
                                     &channels,  &mp3Quality, &webcast,    &monitor,
                                     &meterPoll, &rightHold,  &leftHold,   &blink};
            RecordingSetup setup{dataFolder.path(), {programFolder.path().toStdString()}};
            controller_ = std::make_unique<RecordingController>(
                engine, launcher, widgets, hooks,
                [this](const QString& text) {
                    messages << text;
                    if (onMessage) {
                        onMessage();
                    }
                },
                [this] { return now; }, setup);
        }
        return *controller_;
    }

    bool recordingTimersActive() const {
        return meterPoll.isActive() && rightHold.isActive() && leftHold.isActive() &&
               blink.isActive();
    }

    void provideEncoderScript() {
        QFile script(programFolder.path() + "/encoder.bat");
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QTemporaryDir dataFolder, programFolder;
    FakeCaptureEngine engine;
    FakeProcessLauncher launcher;
    QLabel status, clock;
    QComboBox sampleRate, outputFormat, channels, mp3Quality;
    QLineEdit webcast;
    QCheckBox monitor;
    QTimer meterPoll, rightHold, leftHold, blink;
    RecordingHooks hooks;
    QString showName = "Default";
    QString heldWebcast = "not refreshed";
    QDateTime now{QDate(2004, 3, 5), QTime(21, 7, 9)};
    QStringList messages;
    std::function<void()> onMessage;

private:
    std::unique_ptr<RecordingController> controller_;
};

TEST_F(RecordingControllerTest, StartRecordsIntoTheNamedFileAndShowsTheSource) {
    controller().startRecording();
    ASSERT_EQ(engine.starts.size(), 1u);
    const StartCall& start = engine.starts[0];
    EXPECT_EQ(start.writeFile, 1);
    EXPECT_EQ(start.channels, 2u);
    EXPECT_EQ(start.sampleRate, 44100u);
    EXPECT_EQ(start.fileName,
              (dataFolder.path() + "/soundfiles/Default-03-05-04-21-07-09.wav").toStdString());
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"hook:applySource", "hook:clearMeters",
                                                      "initialize", "startMonitor"}));
    EXPECT_EQ(status.text(), "Rec: Microphone");
    EXPECT_EQ(colourOf(status), kRed);
    EXPECT_EQ(colourOf(clock), kRed);
    EXPECT_TRUE(recordingTimersActive());
    EXPECT_FALSE(monitor.isEnabled());
    EXPECT_TRUE(controller().isRecording());
    EXPECT_TRUE(launcher.launches.empty()) << "no webcast address, nothing opened";
}

TEST_F(RecordingControllerTest, StartWhileRecordingTouchesNothingButKeepsTimersRunning) {
    controller().startRecording();
    controller().togglePause();
    blink.stop();
    meterPoll.stop();
    engine.calls.clear();
    now = now.addSecs(30);
    webcast.setText("http://radio.example/");

    controller().startRecording();
    EXPECT_TRUE(engine.calls.empty());
    EXPECT_EQ(controller().state().fileName, "soundfiles/Default-03-05-04-21-07-09.wav");
    EXPECT_EQ(status.text(), "Paused: Microphone");
    EXPECT_TRUE(recordingTimersActive());
    EXPECT_TRUE(launcher.launches.empty());
}

TEST_F(RecordingControllerTest, StartWithMonitoringStopsItBeforeTheEngineIsTaken) {
    monitor.setChecked(true);
    controller().startRecording();
    EXPECT_EQ(engine.calls,
              (std::vector<std::string>{"hook:stopMonitoring", "hook:applySource",
                                        "hook:clearMeters", "initialize", "startMonitor"}));
    EXPECT_TRUE(monitor.isChecked());
    EXPECT_FALSE(monitor.isEnabled());

    controller().stopRecording();
    EXPECT_FALSE(monitor.isChecked());
    EXPECT_TRUE(monitor.isEnabled());
}

TEST_F(RecordingControllerTest, StopAndPauseWhileIdleChangeNothing) {
    controller();
    monitor.setChecked(true);
    meterPoll.start(50); // monitoring drives the meters
    controller().stopRecording();
    controller().togglePause();
    EXPECT_TRUE(engine.calls.empty());
    EXPECT_TRUE(monitor.isChecked());
    EXPECT_TRUE(meterPoll.isActive());
    EXPECT_EQ(status.text(), "Idle");
}

TEST_F(RecordingControllerTest, PauseAndResumeRestoreTheExactStatus) {
    webcast.setText("http://radio.example/live");
    controller().startRecording();
    EXPECT_EQ(status.text(), "Rec WebCast: Microphone");

    controller().togglePause();
    EXPECT_EQ(status.text(), "Paused: Microphone");
    EXPECT_TRUE(controller().state().paused);
    controller().togglePause();
    EXPECT_EQ(status.text(), "Rec WebCast: Microphone");
    EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "togglePause"), 2);
    EXPECT_TRUE(blink.isActive());
}

TEST_F(RecordingControllerTest, StopWhilePausedEndsTheRecordingAndTheNextStartsUnpaused) {
    controller().startRecording();
    controller().togglePause();
    controller().stopRecording();
    EXPECT_EQ(status.text(), "Idle");
    EXPECT_EQ(colourOf(status), kBlue);
    EXPECT_FALSE(controller().state().paused);
    EXPECT_FALSE(blink.isActive());
    EXPECT_FALSE(meterPoll.isActive());
    EXPECT_TRUE(leftHold.isActive() && rightHold.isActive()) << "they only release marks";

    controller().startRecording();
    controller().togglePause();
    EXPECT_EQ(status.text(), "Paused: Microphone");
}

TEST_F(RecordingControllerTest, ChannelAndSampleRateTextsFollowTheirExactEntries) {
    channels.addItem("Stereo");
    sampleRate.addItem("96 kHz");
    sampleRate.setCurrentText("96 kHz");
    channels.setCurrentText("Stereo");
    controller().startRecording();
    EXPECT_EQ(controller().state().sampleRate, 0) << "no recognised rate yet";
    EXPECT_EQ(controller().state().channels, 1);
    controller().stopRecording();

    sampleRate.setCurrentText("8 kHz");
    channels.setCurrentText("1");
    controller().startRecording();
    controller().stopRecording();
    EXPECT_EQ(engine.starts.back().sampleRate, 8000u);
    EXPECT_EQ(engine.starts.back().channels, 1u);

    sampleRate.setCurrentText("96 kHz");
    channels.setCurrentText("2");
    controller().startRecording();
    EXPECT_EQ(engine.starts.back().sampleRate, 8000u) << "an unknown text keeps the last rate";
    EXPECT_EQ(engine.starts.back().channels, 2u);
}

TEST_F(RecordingControllerTest, BlinkAlternatesAndCarriesItsPhaseIntoTheNextRecording) {
    controller().startRecording();
    controller().blinkTick();
    EXPECT_EQ(colourOf(status), kRed);
    controller().blinkTick();
    EXPECT_EQ(colourOf(status), kDarkRed);
    EXPECT_EQ(colourOf(clock), kDarkRed);
    controller().blinkTick();
    EXPECT_EQ(colourOf(status), kRed);
    controller().stopRecording();

    controller().startRecording();
    EXPECT_EQ(colourOf(status), kRed);
    controller().blinkTick();
    EXPECT_EQ(colourOf(status), kDarkRed) << "continues where the last recording left off";
}

TEST_F(RecordingControllerTest, FailedEngineStartShowsTheMessageAndStaysIdle) {
    outputFormat.setCurrentText(formats::kMp3);
    webcast.setText("http://radio.example/live");
    provideEncoderScript();
    for (const bool failInitialize : {true, false}) {
        SCOPED_TRACE(failInitialize ? "KelvoInitialize fails" : "KelvoStartMonitorA fails");
        engine.initializeResult = failInitialize ? -1 : 0;
        engine.startResult = failInitialize ? 0 : -3;
        messages.clear();
        engine.calls.clear();

        controller().startRecording();
        EXPECT_EQ(messages, QStringList{RecordingController::kEngineMessage});
        EXPECT_FALSE(controller().isRecording());
        EXPECT_EQ(status.text(), "Idle");
        EXPECT_EQ(colourOf(status), kBlue);
        EXPECT_FALSE(blink.isActive() || meterPoll.isActive());
        EXPECT_TRUE(monitor.isEnabled());
        EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "startMonitor"),
                  failInitialize ? 0 : 1);

        controller().stopRecording();
        EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "stopMonitor"), 0);
        EXPECT_TRUE(launcher.launches.empty()) << "no encoder, no webcast for nothing";
    }
}

TEST_F(RecordingControllerTest, MissingEngineLibraryIsNamedWithItsReason) {
    engine.makeUnavailable("libkelvo.so: cannot open shared object file");
    controller().startRecording();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("libkelvo.so could not be loaded"))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("cannot open shared object file"));
    EXPECT_FALSE(controller().isRecording());
    EXPECT_EQ(status.text(), "Idle");
}

TEST_F(RecordingControllerTest, ScheduleTickDuringTheFailureMessageStartsNothingMore) {
    engine.startResult = -3;
    onMessage = [this] { controller().startRecording(); };
    controller().startRecording();
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "initialize"), 1);
}

TEST_F(RecordingControllerTest, WebcastAddressOfOneBlankIsStillOpened) {
    webcast.setText(" ");
    controller().startRecording();
    EXPECT_EQ(status.text(), "Rec WebCast: Microphone");
    ASSERT_EQ(launcher.launches.size(), 1u);
    EXPECT_EQ(launcher.launches[0].args, std::vector<std::string>{" "});
    EXPECT_EQ(controller().state().webcastAddress, " ");
    EXPECT_EQ(heldWebcast, " ") << "the program-wide address follows the box at every start";
}

TEST_F(RecordingControllerTest, Mp3RecordingHandsItsFilesToTheEncoderAtStop) {
    provideEncoderScript();
    outputFormat.setCurrentText(formats::kMp3);
    mp3Quality.setCurrentText("320 Kb/sec");
    controller().startRecording();
    mp3Quality.setCurrentText("16 Kb/sec"); // only the next start reads it
    EXPECT_TRUE(launcher.launches.empty());
    controller().stopRecording();

    ASSERT_EQ(launcher.launches.size(), 1u);
    const std::string wav = "soundfiles/Default-03-05-04-21-07-09.wav";
    EXPECT_EQ(launcher.launches[0].program, (programFolder.path() + "/encoder.bat").toStdString());
    EXPECT_EQ(launcher.launches[0].args, (std::vector<std::string>{"320", wav, wav + ".mp3"}));
    EXPECT_EQ(launcher.launches[0].workingFolder, dataFolder.path().toStdString());
    EXPECT_EQ(controller().state().mp3Quality, "320");
}

TEST_F(RecordingControllerTest, WavRecordingStartsNoProcessEvenIfMp3IsChosenMeanwhile) {
    provideEncoderScript();
    controller().startRecording();
    outputFormat.setCurrentText(formats::kMp3);
    controller().stopRecording();
    EXPECT_TRUE(launcher.launches.empty());
}

} // namespace
} // namespace kelvo
