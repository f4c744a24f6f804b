// What the recorder reaches outside itself: the engine library and the encoder script.
#include "recorder/recording/encoder_launcher.h"
#include "recorder/recording/encoder_queue.h"
#include "recorder/recording/engine_library.h"
#include "recorder/recording/spawn_launcher.h"
#include "tests/recording/fakes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>

namespace kelvo {
namespace {

TEST(EngineLibrary, LoadsFromTheProgramFolderAndReachesEveryExportOrSaysWhyNot) {
    EngineLibrary engine(FAKE_ENGINE_DIR);
    EXPECT_EQ((std::vector<int>{engine.initialize(), engine.startMonitor(1, 2, 44100, "abc"),
                                engine.stopMonitor(), engine.togglePause(), engine.peakLeft(),
                                engine.peakRight()}),
              (std::vector<int>{0, 1000000 + 200000 + 4400 + 3, -10, 7, 1234, 4321}));
    KelvoStatus status{};
    ASSERT_TRUE(engine.status(status));
    EXPECT_EQ((std::vector<std::uint64_t>{
                  std::uint64_t(status.deviceState), std::uint64_t(status.lastWriteError),
                  status.framesCaptured, status.framesFilled, status.bytesWritten, status.gaps,
                  status.parts, status.lastGapFrames}),
              (std::vector<std::uint64_t>{2, 28, 11, 22, 33, 4, 5, 66}));

    const std::string missing[][3] = {
        {"/no-such-folder", "libkelvo-absent.so", "libkelvo-absent.so: cannot open"},
        {FAKE_ENGINE_WITHOUT_PAUSE_DIR, "libkelvo.so", "KelvoTogglePause"}};
    for (const auto& [folder, name, why] : missing) {
        EngineLibrary broken(folder, name);
        EXPECT_EQ((std::vector<int>{broken.initialize(), broken.startMonitor(1, 2, 44100, "x.wav"),
                                    broken.peakLeft()}),
                  std::vector<int>(3, CaptureEngine::kEngineUnavailable));
        EXPECT_NE(broken.loadError().find(why), std::string::npos) << broken.loadError();
        EXPECT_FALSE(broken.status(status));
    }
}

TEST(EngineLibrary, AnEngineWithoutTheStatusExportRecordsButTellsNothing) {
    // The status export is optional: without it the six still work.
    EngineLibrary engine(FAKE_ENGINE_WITHOUT_STATUS_DIR);
    EXPECT_EQ(engine.initialize(), 0);
    EXPECT_EQ(engine.peakRight(), 4321);
    KelvoStatus status{};
    EXPECT_FALSE(engine.status(status));
}

TEST(EncoderLauncher, ScriptGetsRateWavAndMp3NamesAsSeparateArgumentsInTheDataFolder) {
    QTemporaryDir programFolder, dataFolder;
    QFile file(programFolder.path() + "/encoder.bat");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // Renamed into place so it is never read half written.
    file.write("#!/bin/sh\nprintf '%s\\n' \"$0\" \"$(pwd)\" \"$@\" >new && mv new seen.txt");
    file.close();
    SpawnLauncher spawner;
    EncoderLauncher encoder(spawner, dataFolder.path().toStdString(),
                            {programFolder.path().toStdString()});
    const std::tuple<QFile::Permissions, std::string, std::string> runs[] = {
        {QFile::ExeOwner, "64", "soundfiles/Default-03-05-04-21-07-09.wav"},
        {QFile::ExeOwner, "128",
         "soundfiles/My \"Show\" 'x' $(touch pwned) `touch pwned`; touch pwned.wav"},
        {{}, "32", "soundfiles/a.wav"}, // copied without its executable bit
    };
    for (const auto& [executable, rate, wav] : runs) {
        QFile seen(dataFolder.path() + "/seen.txt");
        seen.remove();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | executable);
        const int pid = encoder.run(rate, wav);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return seen.exists(); }, 5000));
        ASSERT_TRUE(seen.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(seen.readAll()).split('\n', Qt::SkipEmptyParts),
                  QStringList({file.fileName(), QDir(dataFolder.path()).canonicalPath(),
                               QString::fromStdString(rate), QString::fromStdString(wav),
                               QString::fromStdString(wav + ".mp3")}));
        // Reaped by the launcher: once gone, not even a zombie answers a signal.
        EXPECT_TRUE(QTest::qWaitFor([pid] { return kill(pid, 0) == -1 && errno == ESRCH; }, 5000));
    }
    EXPECT_FALSE(QFile::exists(dataFolder.path() + "/pwned"));
    EXPECT_FALSE(QFile::exists(QDir::currentPath() + "/pwned"));
    EXPECT_EQ(spawner.start("kelvo-no-such-program-anywhere", {}, {}), -1);
}

TEST(EncoderQueue, PartsAreEncodedOneAfterAnotherInTheirOrder) {
    QTemporaryDir folder;
    QFile file(folder.path() + "/encoder.bat");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // Long enough that a second encoder started early would overlap the first.
    file.write("#!/bin/sh\necho \"start $2\" >>log; sleep 0.3; echo \"end $2\" >>log\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    SpawnLauncher spawner;
    EncoderQueue queue(
        EncoderLauncher(spawner, folder.path().toStdString(), {folder.path().toStdString()}));
    for (const char* part : {"a.wav", "a-2.wav", "a-3.wav"}) {
        queue.add("64", part);
    }
    EXPECT_TRUE(queue.busy());
    EXPECT_EQ(queue.waiting(), 2u) << "the window goes on while the first one runs";
    QFile log(folder.path() + "/log");
    QTRY_VERIFY_WITH_TIMEOUT(!queue.busy(), 10000);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts),
              QStringList({"start a.wav", "end a.wav", "start a-2.wav", "end a-2.wav",
                           "start a-3.wav", "end a-3.wav"}));

    // The program ends while parts wait: none is left unencoded.
    testing::FakeProcessLauncher fake;
    {
        EncoderQueue ending(EncoderLauncher(fake, "/data", {}));
        ending.add("64", "b.wav");
        ending.add("64", "b-2.wav");
        EXPECT_EQ(fake.launches.size(), 1u);
    }
    ASSERT_EQ(fake.launches.size(), 2u);
    EXPECT_EQ(fake.launches[1][2], "b-2.wav");
}

} // namespace
} // namespace kelvo
