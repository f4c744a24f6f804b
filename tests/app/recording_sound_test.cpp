// The whole road of a recording against the private sound server: the window's buttons or
// its schedule, the real mixer, the real engine loaded by name, the WAV file in soundfiles
// and, for MP3, the default encoder.bat with lame.
#include "recorder/app/main_window.h"
#include "recorder/mixer/mixer_pulse.h"
#include "recorder/recording/engine_library.h"
#include "recorder/recording/spawn_launcher.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <numbers>

namespace kelvo {
namespace {

QString output(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished();
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// The file's first channel, read by sox whoever wrote it, holds more than `atLeast` and fewer
// than `atMost` samples, loud, nearly all of its power at 1 kHz (Goertzel).
void expectTone(const QString& file, std::size_t atLeast, std::size_t atMost) {
    QProcess sox;
    sox.start("sox",
              {file, "-t", "raw", "-e", "signed", "-b", "16", "-r", "44100", "-", "remix", "1"});
    ASSERT_TRUE(sox.waitForFinished());
    const QByteArray raw = sox.readAllStandardOutput();
    const auto* samples = reinterpret_cast<const std::int16_t*>(raw.constData());
    const std::size_t count = static_cast<std::size_t>(raw.size()) / 2, skip = 44100 / 5;
    ASSERT_GT(count, atLeast) << file.toStdString();
    EXPECT_LT(count, atMost);
    const double w = 2 * std::numbers::pi * 1000 / 44100;
    double s1 = 0, s2 = 0, energy = 0;
    for (std::size_t i = skip; i < count; ++i) { // the first fifth of a second still arriving
        const double s0 = samples[i] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
        energy += double(samples[i]) * samples[i];
    }
    const double n = static_cast<double>(count - skip);
    EXPECT_GT(std::sqrt(energy / n), 3000) << "the tone, not silence";
    EXPECT_GT(2 * (s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2) / (n * energy), 0.8);
}

class RecordingSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (output("pactl", {"info"}).isEmpty()) {
            ASSERT_FALSE(qEnvironmentVariableIsSet("KELVO_PULSE_PID"))
                << "the private sound server started for the tests is not reachable";
            GTEST_SKIP() << "no sound server reachable (scripts/test starts one)";
        }
        ASSERT_TRUE(QFile::exists(KELVO_PROGRAM_FOLDER "/libkelvo.so"));
        QProcess::execute("pactl", {"set-sink-volume", "speakers", "100%"});
        QProcess::execute("pactl", {"set-source-volume", "speakers.monitor", "100%"});
        const QString tone = dataFolder.path() + "/tone.wav";
        ASSERT_EQ(QProcess::execute("sox", {"-q", "-n", "-r", "44100", "-c", "2", tone, "synth",
                                            "30", "sine", "1000", "vol", "0.5"}),
                  0);
        player.start("paplay", {"-d", "speakers", tone});
        ASSERT_TRUE(player.waitForStarted());
        // An idle null sink renders in two-second blocks; the tone reaches its monitor
        // promptly only once the block under way is done.
        QTest::qWait(2200);

        window = std::make_unique<MainWindow>(
            MainWindowServices{.engine = &engine,
                               .launcher = &launcher,
                               .mixer = &mixer,
                               .desktop = &desktop,
                               .messages = [this](const QString& text) { messages << text; },
                               .mixerErrors =
                                   [this](const std::string&, const std::string& text) {
                                       messages << QString::fromStdString(text);
                                   },
                               .clock = {},
                               .programFolder = KELVO_PROGRAM_FOLDER,
                               .dataFolder = dataFolder.path(),
                               .arguments = {}});
        ASSERT_TRUE(window->startUp());
        window->show();
        // The private server's microphone is a silent null source; record what is played
        // into the speakers instead, chosen as the user would.
        window->controls().combo5->setCurrentText("Monitor of Speakers");
        window->controls().slider1->setValue(0); // the top: full level
    }

    void TearDown() override {
        window.reset();
        player.kill();
        player.waitForFinished();
        QProcess::execute("pactl", {"set-default-source", "microphone"});
    }

    QString recordFor(int milliseconds) {
        window->controls().command1->click();
        EXPECT_TRUE(window->recording().isRecording()) << messages.join('\n').toStdString();
        QTest::qWait(milliseconds);
        window->controls().command2->click();
        return dataFolder.path() + "/" + window->recording().state().fileName;
    }

    QTemporaryDir dataFolder;
    EngineLibrary engine{KELVO_PROGRAM_FOLDER};
    SpawnLauncher launcher;
    PulseMixer mixer;
    struct : DesktopRegistry {
        bool install(const std::vector<DataFile>&) override { return true; }
    } desktop;
    QStringList messages;
    QProcess player;
    std::unique_ptr<MainWindow> window;
};

TEST_F(RecordingSoundTest, RecStopLeavesTheToneInAWavFileInSoundfiles) {
    const QString wav = recordFor(1500);
    EXPECT_TRUE(wav.startsWith(dataFolder.path() + "/soundfiles/Default-"));
    EXPECT_EQ(output("soxi", {"-r", wav}) + output("soxi", {"-c", wav}) +
                  output("soxi", {"-b", wav}),
              "44100216");
    expectTone(wav, 44100, 2 * 44100); // about 1.5 s
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(RecordingSoundTest, ChoosingAMonitorSourceMakesItTheServersDefaultSource) {
    EXPECT_EQ(output("pactl", {"get-default-source"}), "speakers.monitor");
    window->controls().combo5->setCurrentText("Line In");
    EXPECT_EQ(output("pactl", {"get-default-source"}), "line_in");
}

TEST_F(RecordingSoundTest, TheScheduleStartsAndStopsARecordingByItself) {
    const QTime start = QTime::currentTime().addSecs(2);
    window->controls().dtPicker1->setTime(start);
    window->controls().dtPicker3->setTime(start.addSecs(2));
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->recording().isRecording(); }, 4000))
        << messages.join('\n').toStdString();
    EXPECT_EQ(window->controls().label6->text(), "Rec: Monitor of Speakers");
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->recording().isRecording(); }, 4000));
    expectTone(dataFolder.path() + "/" + window->recording().state().fileName, 44100,
               3 * 44100); // about 2 s
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

// MP3 output through the default encoder.bat is covered from outside, by the whole-program
// test (tests/e2e), which decodes the MP3 back to the tone.

} // namespace
} // namespace kelvo
