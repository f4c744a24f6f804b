#include "recorder/recording/recording_controller.h"
#include "tests/recording/fakes.h"

#include <gtest/gtest.h>

#include <utility>

namespace kelvo {
namespace {

using Texts = std::vector<std::string>;

class RecordingControllerTest : public ::testing::Test {
protected:
    RecordingControllerTest() {
        sampleRate.addItems(sampleRateEntries());
        outputFormat.addItems(outputFormatEntries());
        channels.addItems(channelEntries());
        mp3Quality.addItems(mp3QualityEntries());
        // Hooks log into the engine's call list so the test sees one ordered story.
        controller.hooks().applySourceSelection = [this] { engine.calls.push_back("hook:source"); };
        controller.hooks().clearLevelMeters = [this] { engine.calls.push_back("hook:meters"); };
        controller.hooks().sourceName = [] { return QStringLiteral("Microphone"); };
    }
    // The status line and its colour, which the clock shares.
    std::string shown() const {
        const QColor colour = status.palette().color(QPalette::WindowText);
        return (status.text() + " " + colour.name() +
                (colour == clock.palette().color(QPalette::WindowText) ? "" : " (clock differs)"))
            .toStdString();
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
    RecordingWidgets widgets{&status,  &clock,   &sampleRate, &outputFormat, &channels, &mp3Quality,
                             &webcast, &monitor, &meterPoll,  &rightHold,    &leftHold, &blink};
    // While a message is up the schedule's clock keeps ticking and may start again.
    RecordingController controller = RecordingController(
        engine, launcher, widgets, {},
        [this](const QString& text) {
            messages << text;
            controller.startRecording();
        },
        [this] { return now; }, {"/data", {}});
};

TEST_F(RecordingControllerTest, ARecordingFromIdleThroughPauseToStopAndTheNextOne) {
    monitor.setChecked(true);
    meterPoll.start(50); // monitoring drives the meters
    controller.stopRecording();
    controller.togglePause();
    EXPECT_TRUE(engine.calls.empty() && monitor.isChecked() && meterPoll.isActive())
        << "neither acts while idle";
    EXPECT_EQ(shown(), "Idle #0000ff");

    monitor.setChecked(false);
    webcast.setText("http://radio.example/live");
    controller.startRecording();
    EXPECT_EQ(engine.starts, Texts{"1,1,8000,/data/soundfiles/Default-03-05-04-21-07-09.wav"});
    EXPECT_EQ(engine.calls, (Texts{"hook:source", "hook:meters", "initialize", "startMonitor"}));
    EXPECT_TRUE(blink.isActive() && meterPoll.isActive() && !monitor.isEnabled());
    EXPECT_EQ(shown(), "Rec WebCast: Microphone #ff0000");
    for (const char* colour : {"#ff0000", "#7f0000", "#ff0000"}) {
        controller.blinkTick();
        EXPECT_EQ(shown(), std::string("Rec WebCast: Microphone ") + colour);
    }

    controller.togglePause();
    EXPECT_EQ(status.text(), "Paused: Microphone");
    blink.stop();
    meterPoll.stop();
    engine.calls.clear();
    now = now.addSecs(30);
    controller.startRecording();
    EXPECT_TRUE(engine.calls.empty()) << "a start while recording only re-enables the timers";
    EXPECT_EQ(controller.state().fileName, "soundfiles/Default-03-05-04-21-07-09.wav");
    EXPECT_TRUE(blink.isActive() && meterPoll.isActive());
    controller.togglePause();
    EXPECT_EQ(status.text(), "Rec WebCast: Microphone");
    EXPECT_EQ(engine.calls, (Texts{"togglePause"}));

    controller.togglePause();
    controller.stopRecording();
    EXPECT_EQ(shown(), "Idle #0000ff");
    EXPECT_FALSE(blink.isActive() || meterPoll.isActive());
    EXPECT_TRUE(leftHold.isActive() && rightHold.isActive()) << "they only release marks";
    webcast.clear();
    controller.startRecording();
    controller.blinkTick();
    EXPECT_EQ(shown(), "Rec: Microphone #7f0000") << "the blink continues where it left off";
    controller.togglePause();
    EXPECT_EQ(status.text(), "Paused: Microphone") << "the new recording started unpaused";
}

TEST_F(RecordingControllerTest, StartReadsTheListsAndNameAndOnlyMp3GoesToTheEncoderAtStop) {
    channels.addItem("Stereo");
    sampleRate.addItem("96 kHz");
    // An unknown rate keeps the last one; only "2" is stereo.
    const char* const starts[][3] = {
        {"96 kHz", "Stereo", "1,1,0,"}, {"8 kHz", "1", "1,1,8000,"}, {"96 kHz", "2", "1,2,8000,"}};
    for (const auto& [rate, channelsText, engineStart] : starts) {
        sampleRate.setCurrentText(rate);
        channels.setCurrentText(channelsText);
        outputFormat.setCurrentText(formats::kWav);
        controller.startRecording();
        outputFormat.setCurrentText(formats::kMp3); // only the next start reads it
        controller.stopRecording();
        EXPECT_TRUE(engine.starts.back().starts_with(engineStart)) << engine.starts.back();
    }
    mp3Quality.setCurrentText("320 Kb/sec");
    // The show's name is kept as it is, extension and all; midnight is hour 00.
    controller.hooks().currentShowName = [] { return QStringLiteral("Night.cia"); };
    now = QDateTime(QDate(2023, 12, 31), QTime(0, 0, 5));
    controller.startRecording();
    mp3Quality.setCurrentText("16 Kb/sec");
    controller.stopRecording();
    const std::string wav = "soundfiles/Night.cia-12-31-23-00-00-05.wav";
    EXPECT_EQ(launcher.launches,
              (std::vector<Texts>{{"encoder.bat", "320", wav, wav + ".mp3", "/data"}}))
        << "WAV recordings start no process";
}

TEST_F(RecordingControllerTest, FailedStartShowsOneMessageAndStaysIdle) {
    outputFormat.setCurrentText(formats::kMp3);
    webcast.setText("http://radio.example/live");
    engine.loadErrorText = "libkelvo.so: cannot open shared object file";
    const std::tuple<int, int, QString> failures[] = {
        {-1, 0, RecordingController::kEngineMessage},
        {0, -3, RecordingController::kEngineMessage},
        {CaptureEngine::kEngineUnavailable, 0,
         "The capture engine libkelvo.so could not be loaded, so nothing can be recorded.\n\n"
         "libkelvo.so: cannot open shared object file"}};
    for (const auto& [initialize, start, message] : failures) {
        std::tie(engine.initializeResult, engine.startResult) = std::tie(initialize, start);
        controller.startRecording();
        controller.stopRecording();
        EXPECT_EQ(std::exchange(messages, {}), QStringList{message});
        EXPECT_EQ(shown(), "Idle #0000ff");
        EXPECT_TRUE(!controller.isRecording() && monitor.isEnabled() && !blink.isActive() &&
                    !meterPoll.isActive());
        Texts calls{"hook:source", "hook:meters", "initialize", "startMonitor"};
        calls.resize(initialize == 0 ? 4 : 3); // and never stopMonitor
        EXPECT_EQ(std::exchange(engine.calls, {}), calls);
        EXPECT_TRUE(launcher.launches.empty()) << "no encoder, no webcast for nothing";
    }
}

TEST_F(RecordingControllerTest, LowSampleRateForcesWavAndLocksTheFormatLists) {
    QComboBox wmaQuality;
    outputFormat.addItem(formats::kWma);
    const auto on = [](const QComboBox& list) { return list.isEnabled() ? '1' : '0'; };
    // A choice, then: the output format and whether it, the MP3 and the WMA list are usable.
    const std::tuple<QComboBox*, QString, std::string> steps[] = {
        {&outputFormat, formats::kMp3, "Windows Wave (WAV) 000"}, // at 8 kHz
        {&sampleRate, "32 kHz", "Windows Wave (WAV) 100"},        // MP3 waits to be chosen again
        {&outputFormat, formats::kMp3, "MPEG Layer 3 (MP3) 110"},
        {&sampleRate, "22 kHz", "Windows Wave (WAV) 000"},
        {&sampleRate, "32 kHz", "Windows Wave (WAV) 100"},
        {&outputFormat, formats::kWma, "Windows Media (WMA) 101"}};
    for (const auto& [list, choice, expected] : steps) {
        list->setCurrentText(choice);
        updateFormatDependentLists({&sampleRate, &outputFormat, &mp3Quality, &wmaQuality});
        EXPECT_EQ(outputFormat.currentText().toStdString() + " " + on(outputFormat) +
                      on(mp3Quality) + on(wmaQuality),
                  expected);
    }
}

} // namespace
} // namespace kelvo
