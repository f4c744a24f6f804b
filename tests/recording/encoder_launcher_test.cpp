#include "recorder/recording/encoder_launcher.h"
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

TEST(EncoderLauncher, ScriptGetsRateWavAndMp3NamesAsSeparateArgumentsInTheDataFolder) {
    QTemporaryDir programFolder, dataFolder;
    const QString script = programFolder.path() + "/encoder.bat";
    SpawnLauncher spawner;
    EncoderLauncher encoder(spawner, dataFolder.path().toStdString(),
                            {programFolder.path().toStdString()});
    const struct {
        bool executable;
        std::string rate, wav;
    } runs[] = {
        {true, "64", "soundfiles/Default-03-05-04-21-07-09.wav"},
        {true, "128", "soundfiles/My \"Show\" 'x' $(touch pwned) `touch pwned`; touch pwned.wav"},
        {false, "32", "soundfiles/a.wav"}, // copied without its executable bit
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.wav);
        QFile file(script), seen(dataFolder.path() + "/seen.txt");
        seen.remove();
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // Renamed into place so it is never read half written.
        file.write("#!/bin/sh\nprintf '%s\\n' \"$0\" \"$(pwd)\" \"$@\" > seen.tmp && mv seen.tmp "
                   "seen.txt\n");
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner |
                            (r.executable ? QFile::ExeOwner : QFile::Permissions()));
        file.close();

        const int pid = encoder.run(r.rate, r.wav);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return seen.exists(); }, 5000));
        ASSERT_TRUE(seen.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(seen.readAll()).split('\n', Qt::SkipEmptyParts),
                  QStringList({script, QDir(dataFolder.path()).canonicalPath(),
                               QString::fromStdString(r.rate), QString::fromStdString(r.wav),
                               QString::fromStdString(r.wav + ".mp3")}));
        // Reaped by the launcher: once gone, not even a zombie answers a signal.
        EXPECT_TRUE(QTest::qWaitFor([pid] { return kill(pid, 0) == -1 && errno == ESRCH; }, 5000));
    }
    EXPECT_FALSE(QFile::exists(dataFolder.path() + "/pwned"));
    EXPECT_FALSE(QFile::exists(QDir::currentPath() + "/pwned"));
    EXPECT_EQ(spawner.start("kelvo-no-such-program-anywhere", {}, {}), -1);
}

} // namespace
} // namespace kelvo
