// A recording's whole road on the private sound server, real mixer and engine; MP3 output is
// covered from outside, by the whole-program test.
#include "recorder/app/main_window.h"
#include "recorder/mixer/mixer_pulse.h"
#include "recorder/platform/engine_library.h"
#include "recorder/platform/spawn_launcher.h"

#include "tests/recording/fakes.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <numbers>

namespace kelvo {
namespace {

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished();
    return process.readAllStandardOutput();
}

// The file's first channel, read by sox, holds more than `atLeast` and fewer than `atMost`
// samples, loud, nearly all of its power at 1 kHz (Goertzel).
void expectTone(const QString& file, std::size_t atLeast, std::size_t atMost) {
    const QByteArray raw = run(
        "sox", {file, "-t", "raw", "-e", "signed", "-b", "16", "-r", "44100", "-", "remix", "1"});
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

TEST(RecordingSound, ButtonsAndScheduleRecordTheToneFromTheChosenSourceLeavingTheDefaultAlone) {
    if (run("pactl", {"info"}).isEmpty()) {
        ASSERT_FALSE(qEnvironmentVariableIsSet("KELVO_PULSE_PID"))
            << "the private sound server started for the tests is not reachable";
        GTEST_SKIP() << "no sound server reachable (scripts/test starts one)";
    }
    const auto restore = qScopeGuard([] { run("pactl", {"set-default-source", "microphone"}); });
    const QString defaultSource = run("pactl", {"get-default-source"}).trimmed();
    QTemporaryDir dataFolder;
    const QString tone = dataFolder.path() + "/tone.wav";
    run("pactl", {"set-sink-volume", "speakers", "100%"});
    run("sox",
        {"-q", "-n", "-r", "44100", "-c", "2", tone, "synth", "30", "sine", "1000", "vol", "0.5"});
    QProcess player;
    player.start("paplay", {"-d", "speakers", tone});
    ASSERT_TRUE(player.waitForStarted());
    // An idle null sink renders in two-second blocks; the tone reaches its monitor promptly
    // only once the block under way is done.
    QTest::qWait(2200);

    EngineLibrary engine(KELVO_PROGRAM_FOLDER);
    SpawnLauncher launcher;
    PulseMixer mixer;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataFolder.path())); // for the association
    QStringList messages;
    const auto tell = [&](const QString& text) { messages << text; };
    const auto critical = [&](auto&, auto& text) { tell(QString::fromStdString(text)); };
    // The desktop's services are doubles here; their D-Bus backends have tests of their own.
    testing::FakeNotifier notifier;
    testing::FakeInhibitor inhibitor;
    const MainWindowServices services{&engine,
                                      &launcher,
                                      &mixer,
                                      nullptr,
                                      tell,
                                      critical,
                                      {},
                                      KELVO_PROGRAM_FOLDER,
                                      dataFolder.path(),
                                      {},
                                      &notifier,
                                      &inhibitor,
                                      {},
                                      {}};
    MainWindow window(services);
    ASSERT_TRUE(window.startUp());
    const MainWindowControls& controls = window.controls();
    // The private server's microphone is a silent null source; record what is played into
    // the speakers instead, chosen as the user would.
    controls.sourceList->setCurrentText("Monitor of Speakers");
    EXPECT_EQ(run("pactl", {"get-default-source"}).trimmed(), defaultSource);
    controls.inputLevel->setValue(0); // the top: full level

    controls.recordButton->click();
    ASSERT_TRUE(window.recording().isRecording()) << messages.join('\n').toStdString();
    QTest::qWait(1500);
    controls.stopButton->click();
    const QString wav = dataFolder.path() + "/" + window.recording().session()->fileName;
    EXPECT_TRUE(wav.startsWith(dataFolder.path() + "/soundfiles/Default-"));
    const auto info = [&](const char* option) { return run("soxi", {option, wav}).trimmed(); };
    EXPECT_EQ(info("-r") + " " + info("-c") + " " + info("-b"), "44100 2 16"); // Hz, channels, bits
    expectTone(wav, 44100, 2 * 44100);                                         // about 1.5 s

    const QTime start = QTime::currentTime().addSecs(2);
    controls.startTime->setTime(start);
    controls.stopTime->setTime(start.addSecs(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.recording().isRecording(); }, 4000))
        << messages.join('\n').toStdString();
    EXPECT_EQ(controls.statusLine->text(), "Rec: Monitor of Speakers");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.recording().isRecording(); }, 4000));
    expectTone(dataFolder.path() + "/" + window.recording().session()->fileName, 44100,
               3 * 44100); // about 2 s
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    player.close();
}

} // namespace
} // namespace kelvo
