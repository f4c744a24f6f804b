// What the recorder reaches outside itself: the engine library and the encoder script.
#include "recorder/platform/engine_library.h"
#include "recorder/platform/spawn_launcher.h"
#include "recorder/recording/encoder_launcher.h"
#include "recorder/recording/encoder_queue.h"
#include "tests/eventually.h"
#include "tests/recording/fakes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <tuple>

namespace kelvo {
namespace {

TEST(EngineLibrary, LoadsFromTheProgramFolderAndReachesEveryExportOrSaysWhyNot) {
    // The status export is optional: an engine without it still records but tells nothing.
    for (const char* folder : {FAKE_ENGINE_DIR, FAKE_ENGINE_WITHOUT_STATUS_DIR}) {
        EngineLibrary engine(folder);
        // The start answers with the length of the source chosen before it, times 10^7.
        EXPECT_EQ(
            (std::vector<int>{engine.initialize(), engine.setSource("line_in"),
                              engine.startMonitor(1, 2, 44100, "abc"), engine.stopMonitor(),
                              engine.togglePause(), engine.peakLeft(), engine.peakRight()}),
            (std::vector<int>{0, 0, 70000000 + 1000000 + 200000 + 4400 + 3, -10, 7, 1234, 4321}));
        KelvoStatus s{}, none{};
        KelvoStatus told{};
        std::tie(told.deviceState, told.lastWriteError, told.framesCaptured, told.framesFilled,
                 told.bytesWritten, told.gaps, told.parts, told.lastGapFrames) =
            std::tuple{2, 28, 11, 22, 33, 4, 5, 66};
        const bool current = folder == std::string(FAKE_ENGINE_DIR);
        EXPECT_EQ(engine.status(s), current);
        // An older engine cannot record a stream and says so; it can always go back to none.
        const std::vector<int> streamAnswers =
            current ? std::vector<int>{10, 5, 0}
                    : std::vector<int>{CaptureEngine::kStreamUnsupported, 0, 0};
        EXPECT_EQ((std::vector<int>{engine.setStream("http://a/b"), engine.keepStreamCopy(true),
                                    engine.setStream("")}),
                  streamAnswers);
        EXPECT_EQ(std::memcmp(&s, engine.status(s) ? &told : &none, sizeof s), 0)
            << "every field, in its place";
    }

    const std::string missing[][3] = {
        {"/no-such-folder", "libkelvo-absent.so", "libkelvo-absent.so: cannot open"},
        {FAKE_ENGINE_WITHOUT_PAUSE_DIR, "libkelvo.so", "KelvoTogglePause"}};
    for (const auto& [folder, name, why] : missing) {
        EngineLibrary broken(folder, name);
        EXPECT_EQ((std::vector<int>{broken.initialize(), broken.startMonitor(1, 2, 44100, "x.wav"),
                                    broken.peakLeft()}),
                  std::vector<int>(3, CaptureEngine::kEngineUnavailable));
        EXPECT_NE(broken.loadError().find(why), std::string::npos) << broken.loadError();
        KelvoStatus status{};
        EXPECT_FALSE(broken.status(status));
    }
}

// A script that writes its arguments, run through the real spawner from the data folder.
struct EncoderScript {
    explicit EncoderScript(const char* body) {
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        out.write(body);
        out.close();
        out.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QTemporaryDir programFolder, dataFolder;
    const QString file = programFolder.path() + "/encoder.bat";
    SpawnLauncher spawner;
    EncoderLauncher launcher{
        spawner, dataFolder.path().toStdString(), {programFolder.path().toStdString()}};
    QStringList lines(const QString& name) const {
        QFile in(dataFolder.path() + "/" + name);
        return in.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(in.readAll()).split('\n', Qt::SkipEmptyParts)
                   : QStringList{};
    }
};

TEST(EncoderLauncher, ScriptGetsRateWavAndMp3NamesAsSeparateArgumentsInTheDataFolder) {
    // Renamed into place so it is never read half written.
    EncoderScript script(
        "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$(pwd)\" \"$@\" >new && mv new seen.txt");
    const std::tuple<QFile::Permissions, std::string, std::string> runs[] = {
        {QFile::ExeOwner, "64", "soundfiles/Default-03-05-04-21-07-09.wav"},
        {QFile::ExeOwner, "128",
         "soundfiles/My \"Show\" 'x' $(touch pwned) `touch pwned`; touch pwned.wav"},
        {{}, "32", "soundfiles/a.wav"}, // copied without its executable bit
    };
    for (const auto& [executable, rate, wav] : runs) {
        QFile::remove(script.dataFolder.path() + "/seen.txt");
        QFile::setPermissions(script.file, QFile::ReadOwner | QFile::WriteOwner | executable);
        const int pid = script.launcher.run(rate, wav);
        ASSERT_GT(pid, 0);
        EVENTUALLY_EQ_WITHIN(script.lines("seen.txt").size(), 5, 5000);
        EXPECT_EQ(script.lines("seen.txt"),
                  QStringList({script.file, QDir(script.dataFolder.path()).canonicalPath(),
                               QString::fromStdString(rate), QString::fromStdString(wav),
                               QString::fromStdString(wav + ".mp3")}));
        // Reaped by the launcher: once gone, not even a zombie answers a signal.
        EXPECT_TRUE(QTest::qWaitFor([pid] { return kill(pid, 0) == -1 && errno == ESRCH; }, 5000));
    }
    EXPECT_FALSE(QFile::exists(script.dataFolder.path() + "/pwned"));
    EXPECT_FALSE(QFile::exists(QDir::currentPath() + "/pwned"));

    // Only the given folders count: an encoder.bat on PATH is never run.
    QFile::remove(script.dataFolder.path() + "/seen.txt");
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (script.programFolder.path().toStdString() + ":" + path).c_str(), 1);
    EncoderLauncher elsewhere{script.spawner,
                              script.dataFolder.path().toStdString(),
                              {script.dataFolder.path().toStdString(), "relative"}};
    EXPECT_EQ(elsewhere.script(), "");
    EXPECT_EQ(elsewhere.run("64", "a.wav"), -1);
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(script.spawner.start("kelvo-no-such-program-anywhere", {}, {}), -1);
}

TEST(EncoderQueue, PartsAreEncodedOneAfterAnotherInTheirOrder) {
    // Long enough that a second encoder started early would overlap the first.
    EncoderScript script("#!/bin/sh\necho \"start $2\" >>log; sleep 0.3; echo \"end $2\" >>log\n");
    EncoderQueue queue(script.launcher);
    queue.add(EncoderJob{"a", "A", "64", {"a.wav", "a-2.wav", "a-3.wav"}, 0});
    EXPECT_TRUE(queue.busy());
    EXPECT_EQ(queue.waiting(), 2u) << "the window goes on while the first one runs";
    EVENTUALLY_TRUE_WITHIN(!queue.busy(), 10000);
    EXPECT_EQ(script.lines("log"), QStringList({"start a.wav", "end a.wav", "start a-2.wav",
                                                "end a-2.wav", "start a-3.wav", "end a-3.wav"}));

    // The program ends while parts wait: none is left unencoded.
    testing::FakeProcessLauncher fake;
    {
        EncoderQueue ending(
            EncoderLauncher(fake, "/data", {script.programFolder.path().toStdString()}));
        ending.add(EncoderJob{"b", "B", "64", {"b.wav", "b-2.wav"}, 0});
        EXPECT_EQ(fake.launches.size(), 1u);
    }
    ASSERT_EQ(fake.launches.size(), 2u);
    EXPECT_EQ(fake.launches[1][2], "b-2.wav");
}

TEST(EncoderQueue, HowTheRealEncoderEndedIsJudgedFromItsExitAndItsMp3) {
    const std::string notMade = "MP3 of Show not made: encoder.bat ";
    const std::tuple<const char*, EncoderState, std::optional<int>, std::string> runs[] = {
        {"printf 'ID3' >\"$3\"", EncoderState::Made, 0, ""},
        {"printf 'ID3' >\"$3\"; exit 3", EncoderState::Failed, 3,
         notMade + "exited with 3; the WAV is kept"},
        {": >\"$3\"", EncoderState::Failed, 0, notMade + "made no MP3; the WAV is kept"},
        {"kill -9 $$", EncoderState::Failed, std::nullopt,
         notMade + "was ended by signal 9; the WAV is kept"},
    };
    for (const auto& [body, state, exitCode, text] : runs) {
        EncoderScript script((std::string("#!/bin/sh\n") + body + "\n").c_str());
        EncoderQueue queue(script.launcher);
        std::vector<EncoderOutcome> seen;
        QObject::connect(&queue, &EncoderQueue::outcome,
                         [&seen](const EncoderOutcome& outcome) { seen.push_back(outcome); });
        queue.add(EncoderJob{"key", "Show", "64", {"a.wav"}, 0});
        EVENTUALLY_TRUE_WITHIN(!queue.busy(), 10000);
        ASSERT_EQ(seen.size(), 2u) << body;
        EXPECT_EQ(seen[0].state, EncoderState::Running);
        EXPECT_EQ(seen[1].state, state) << body;
        EXPECT_EQ(seen[1].exitCode, exitCode) << body;
        EXPECT_EQ(seen[1].text.toStdString(), text);
    }
}

} // namespace
} // namespace kelvo
