#include "recorder/recording/recording_controller.h"
#include "tests/recording/fake_capture_engine.h"
#include "tests/recording/fake_process_launcher.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

using Texts = std::vector<std::string>;
const QColor kBlue(0, 0, 255), kRed(255, 0, 0), kDarkRed(127, 0, 0);

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
        // Hooks log into the engine's call list so the test sees one ordered story.
        controller.hooks().applySourceSelection = [this] { engine.calls.push_back("hook:source"); };
        controller.hooks().clearLevelMeters = [this] { engine.calls.push_back("hook:meters"); };
        controller.hooks().sourceName = [] { return QStringLiteral("Microphone"); };
    }
    void tell(const QString& text) {
        messages << text;
        if (onMessage) {
            onMessage();
        }
    }
    bool timersActive() const {
        return meterPoll.isActive() && rightHold.isActive() && leftHold.isActive() &&
               blink.isActive();
    }
    long count(const char* call) const {
        return std::count(engine.calls.begin(), engine.calls.end(), call);
    }

    testing::FakeCaptureEngine engine;
    testing::FakeProcessLauncher launcher;
    QLabel status, clock;
    QComboBox sampleRate, outputFormat, channels, mp3Quality;
    QLineEdit webcast;
    QCheckBox monitor;
    QTimer meterPoll, rightHold, leftHold, blink;
    QDateTime now{QDate(2004, 3, 5), QTime(21, 7, 9)};
    QStringList messages;
    std::function<void()> onMessage;
    RecordingWidgets widgets{&status,  &clock,   &sampleRate, &outputFormat, &channels, &mp3Quality,
                             &webcast, &monitor, &meterPoll,  &rightHold,    &leftHold, &blink};
    RecordingController controller = RecordingController(
        engine, launcher, widgets, {}, [this](const QString& text) { tell(text); },
        [this] { return now; }, {"/data", {}});
};

TEST_F(RecordingControllerTest, ARecordingFromIdleThroughPauseToStopAndTheNextOne) {
    monitor.setChecked(true);
    meterPoll.start(50); // monitoring drives the meters
    controller.stopRecording();
    controller.togglePause();
    EXPECT_TRUE(engine.calls.empty()) << "neither acts while idle";
    EXPECT_TRUE(monitor.isChecked() && meterPoll.isActive());
    EXPECT_EQ(status.text(), "Idle");

    monitor.setChecked(false);
    webcast.setText("http://radio.example/live");
    controller.startRecording();
    ASSERT_EQ(engine.starts.size(), 1u);
    const testing::StartCall& start = engine.starts[0];
    EXPECT_EQ(std::tie(start.writeFile, start.channels, start.sampleRate, start.fileName),
              std::make_tuple(1, 2u, 44100u, "/data/soundfiles/Default-03-05-04-21-07-09.wav"));
    EXPECT_EQ(engine.calls, (Texts{"hook:source", "hook:meters", "initialize", "startMonitor"}));
    EXPECT_EQ(status.text(), "Rec WebCast: Microphone");
    EXPECT_TRUE(timersActive());
    EXPECT_FALSE(monitor.isEnabled());
    EXPECT_EQ(launcher.launches.at(0).program, "xdg-open");
    EXPECT_EQ(launcher.launches[0].args, Texts{"http://radio.example/live"});
    EXPECT_EQ(colourOf(status), kRed);
    for (const QColor& colour : {kRed, kDarkRed, kRed}) {
        controller.blinkTick();
        EXPECT_EQ(colourOf(status), colour);
        EXPECT_EQ(colourOf(clock), colour);
    }

    controller.togglePause();
    EXPECT_EQ(status.text(), "Paused: Microphone");
    blink.stop();
    meterPoll.stop();
    engine.calls.clear();
    now = now.addSecs(30);
    controller.startRecording();
    EXPECT_TRUE(engine.calls.empty()) << "a start while recording";
    EXPECT_EQ(controller.state().fileName, "soundfiles/Default-03-05-04-21-07-09.wav");
    EXPECT_TRUE(timersActive());
    EXPECT_EQ(launcher.launches.size(), 1u);
    controller.togglePause();
    EXPECT_EQ(status.text(), "Rec WebCast: Microphone");
    EXPECT_EQ(engine.calls, (Texts{"togglePause"}));

    controller.togglePause();
    controller.stopRecording();
    EXPECT_EQ(status.text(), "Idle");
    EXPECT_EQ(colourOf(status), kBlue);
    EXPECT_FALSE(blink.isActive() || meterPoll.isActive());
    EXPECT_TRUE(leftHold.isActive() && rightHold.isActive()) << "they only release marks";
    webcast.clear();
    controller.startRecording();
    EXPECT_EQ(status.text(), "Rec: Microphone");
    controller.blinkTick();
    EXPECT_EQ(colourOf(status), kDarkRed) << "the blink continues where it left off";
    controller.togglePause();
    EXPECT_EQ(status.text(), "Paused: Microphone") << "the new recording started unpaused";
}

TEST_F(RecordingControllerTest, UnknownSampleRateKeepsTheLastAndOnlyTwoMeansStereo) {
    channels.addItem("Stereo");
    sampleRate.addItem("96 kHz");
    const struct {
        const char *rate, *channels;
        std::uint32_t engineRate, engineChannels;
    } starts[] = {{"96 kHz", "Stereo", 0, 1}, {"8 kHz", "1", 8000, 1}, {"96 kHz", "2", 8000, 2}};
    for (const auto& s : starts) {
        sampleRate.setCurrentText(s.rate);
        channels.setCurrentText(s.channels);
        controller.startRecording();
        controller.stopRecording();
        EXPECT_EQ(engine.starts.back().sampleRate, s.engineRate) << s.rate;
        EXPECT_EQ(engine.starts.back().channels, s.engineChannels) << s.channels;
    }
}

TEST_F(RecordingControllerTest, FailedStartShowsOneMessageAndStaysIdle) {
    outputFormat.setCurrentText(formats::kMp3);
    webcast.setText("http://radio.example/live");
    onMessage = [this] { controller.startRecording(); }; // the schedule ticks meanwhile
    const int absent = CaptureEngine::kEngineUnavailable;
    const struct {
        int initialize, start;
        QString message;
    } failures[] = {
        {-1, 0, RecordingController::kEngineMessage},
        {0, -3, RecordingController::kEngineMessage},
        {absent, absent,
         "The capture engine libkelvo.so could not be loaded, so nothing can be recorded.\n\n"
         "libkelvo.so: cannot open shared object file"},
    };
    engine.loadErrorText = "libkelvo.so: cannot open shared object file";
    for (const auto& f : failures) {
        SCOPED_TRACE(f.initialize);
        engine.initializeResult = f.initialize;
        engine.startResult = f.start;
        messages.clear();
        engine.calls.clear();
        controller.startRecording();
        controller.stopRecording();
        EXPECT_EQ(messages, QStringList{f.message});
        EXPECT_FALSE(controller.isRecording());
        EXPECT_EQ(status.text(), "Idle");
        EXPECT_EQ(colourOf(status), kBlue);
        EXPECT_FALSE(blink.isActive() || meterPoll.isActive());
        EXPECT_TRUE(monitor.isEnabled());
        EXPECT_EQ(count("initialize"), 1);
        EXPECT_EQ(count("startMonitor"), f.initialize == 0 ? 1 : 0);
        EXPECT_EQ(count("stopMonitor"), 0);
        EXPECT_TRUE(launcher.launches.empty()) << "no encoder, no webcast for nothing";
    }
}

TEST_F(RecordingControllerTest, OnlyAnMp3RecordingIsHandedToTheEncoderAtStop) {
    controller.startRecording();
    outputFormat.setCurrentText(formats::kMp3); // only the next start reads it
    controller.stopRecording();
    EXPECT_TRUE(launcher.launches.empty()) << "a WAV recording starts no process";

    mp3Quality.setCurrentText("320 Kb/sec");
    controller.startRecording();
    mp3Quality.setCurrentText("16 Kb/sec");
    controller.stopRecording();
    ASSERT_EQ(launcher.launches.size(), 1u);
    const std::string wav = "soundfiles/Default-03-05-04-21-07-09.wav";
    EXPECT_EQ(launcher.launches[0].args, (Texts{"320", wav, wav + ".mp3"}));
    EXPECT_EQ(launcher.launches[0].workingFolder, "/data");
}

TEST(RecordingNames, MidnightIsHourZeroAndTheShowNameIsKeptVerbatimOrDefault) {
    const QDateTime midnight(QDate(2023, 12, 31), QTime(0, 0, 5));
    EXPECT_EQ(recordingFileName("Night.cia", midnight),
              "soundfiles/Night.cia-12-31-23-00-00-05.wav");
    EXPECT_EQ(recordingFileName("", midnight), "soundfiles/Default-12-31-23-00-00-05.wav");
}

TEST_F(RecordingControllerTest, LowSampleRateForcesWavAndLocksTheFormatLists) {
    QComboBox wmaQuality;
    outputFormat.addItem(formats::kWma);
    FormatLists lists{&sampleRate, &outputFormat, &mp3Quality, &wmaQuality};
    for (QComboBox* list : {&sampleRate, &outputFormat}) { // wired as the window wires them
        QObject::connect(list, &QComboBox::currentTextChanged,
                         [&] { updateFormatDependentLists(lists); });
    }
    outputFormat.setCurrentText(formats::kMp3);
    EXPECT_TRUE(mp3Quality.isEnabled());
    EXPECT_FALSE(wmaQuality.isEnabled());
    sampleRate.setCurrentText("22 kHz");
    EXPECT_EQ(outputFormat.currentText(), formats::kWav);
    EXPECT_FALSE(outputFormat.isEnabled() || mp3Quality.isEnabled());
    sampleRate.setCurrentText("32 kHz");
    EXPECT_TRUE(outputFormat.isEnabled());
    EXPECT_FALSE(mp3Quality.isEnabled()) << "stays off until MP3 is chosen again";
    outputFormat.setCurrentText(formats::kMp3);
    EXPECT_TRUE(mp3Quality.isEnabled());
    outputFormat.setCurrentText(formats::kWma);
    EXPECT_FALSE(mp3Quality.isEnabled());
    EXPECT_TRUE(wmaQuality.isEnabled());
}

} // namespace
} // namespace kelvo
