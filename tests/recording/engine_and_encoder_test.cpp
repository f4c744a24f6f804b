// What the recorder reaches outside itself: the engine library and the encoder script.
#include "recorder/recording/encoder_launcher.h"
#include "recorder/recording/engine_library.h"
#include "recorder/recording/spawn_launcher.h"

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

    const std::string missing[][3] = {
        {"/no-such-folder", "libkelvo-absent.so", "libkelvo-absent.so: cannot open"},
        {FAKE_ENGINE_WITHOUT_PAUSE_DIR, "libkelvo.so", "KelvoTogglePause"}};
    for (const auto& [folder, name, why] : missing) {
        EngineLibrary broken(folder, name);
        EXPECT_EQ((std::vector<int>{broken.initialize(), broken.startMonitor(1, 2, 44100, "x.wav"),
                                    broken.peakLeft()}),
                  std::vector<int>(3, CaptureEngine::kEngineUnavailable));
        EXPECT_NE(broken.loadError().find(why), std::string::npos) << broken.loadError();
    }
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

} // namespace
} // namespace kelvo
