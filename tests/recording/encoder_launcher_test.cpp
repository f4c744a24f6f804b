#include "recorder/recording/encoder_launcher.h"
#include "recorder/recording/spawn_launcher.h"
#include "recorder/recording/webcast_opener.h"
#include "tests/recording/fake_process_launcher.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace kelvo {
namespace {

// Writes one line per argument after the folder it runs in, then renames the file into
// place so the test never reads it half written.
const char* const kRecordingScript =
    "#!/bin/sh\n"
    "{ echo \"$TAG\"; pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > seen.tmp\n"
    "mv seen.tmp seen.txt\n";

void writeScript(const QString& path, const QString& tag, bool executable) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(kRecordingScript).replace("$TAG", tag.toUtf8()));
    file.close();
    auto permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable) {
        permissions |= QFile::ExeOwner;
    }
    file.setPermissions(permissions);
}

QStringList waitForSeen(const QString& folder) {
    QFile seen(folder + "/seen.txt");
    if (!QTest::qWaitFor([&] { return seen.exists(); }, 5000) || !seen.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lines = QString::fromUtf8(seen.readAll()).split('\n');
    lines.removeLast(); // after the final newline
    return lines;
}

class EncoderLauncherTest : public ::testing::Test {
protected:
    QTemporaryDir programFolder;
    QTemporaryDir dataFolder;
    SpawnLauncher spawner;

    EncoderLauncher encoder() {
        return EncoderLauncher(spawner, dataFolder.path().toStdString(),
                               {programFolder.path().toStdString()});
    }
};

TEST_F(EncoderLauncherTest, ScriptGetsRateWavAndMp3NamesInTheDataFolder) {
    writeScript(programFolder.path() + "/encoder.bat", "program", true);
    const int pid = encoder().run("64", "soundfiles/Default-03-05-04-21-07-09.wav");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(waitForSeen(dataFolder.path()),
              QStringList({"program", QDir(dataFolder.path()).canonicalPath(), "64",
                           "soundfiles/Default-03-05-04-21-07-09.wav",
                           "soundfiles/Default-03-05-04-21-07-09.wav.mp3"}));
    // Reaped by the launcher: once gone, not even a zombie answers a signal.
    EXPECT_TRUE(QTest::qWaitFor([pid] { return kill(pid, 0) == -1 && errno == ESRCH; }, 5000));
}

TEST_F(EncoderLauncherTest, HostileShowNameArrivesAsOneArgumentAndRunsNothing) {
    writeScript(programFolder.path() + "/encoder.bat", "program", true);
    const std::string wav = "soundfiles/My \"Show\" 'x' $(touch pwned) `touch pwned`; "
                            "touch pwned-03-05-04-21-07-09.wav";
    encoder().run("128", wav);
    const QStringList seen = waitForSeen(dataFolder.path());
    ASSERT_EQ(seen.size(), 5);
    EXPECT_EQ(seen[3].toStdString(), wav);
    EXPECT_EQ(seen[4].toStdString(), wav + ".mp3");
    EXPECT_FALSE(QFile::exists(dataFolder.path() + "/pwned"));
    EXPECT_FALSE(QFile::exists(QDir::currentPath() + "/pwned"));
}

TEST_F(EncoderLauncherTest, ScriptWithoutExecutableBitStillRuns) {
    writeScript(programFolder.path() + "/encoder.bat", "plain", false);
    encoder().run("32", "soundfiles/a.wav");
    EXPECT_EQ(waitForSeen(dataFolder.path()).value(2), "32");
}

TEST_F(EncoderLauncherTest, ProgramFolderScriptWinsOverOneOnThePath) {
    QTemporaryDir pathFolder;
    writeScript(pathFolder.path() + "/encoder.bat", "path", true);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", pathFolder.path().toUtf8() + ":" + oldPath);

    encoder().run("32", "soundfiles/a.wav");
    EXPECT_EQ(waitForSeen(dataFolder.path()).value(0), "path") << "found on PATH when alone";
    QFile::remove(dataFolder.path() + "/seen.txt");

    writeScript(programFolder.path() + "/encoder.bat", "program", true);
    encoder().run("32", "soundfiles/a.wav");
    EXPECT_EQ(waitForSeen(dataFolder.path()).value(0), "program");
    qputenv("PATH", oldPath);
}

TEST(SpawnLauncher, ReportsAProgramThatCannotBeStarted) {
    SpawnLauncher spawner;
    EXPECT_EQ(spawner.start("kelvo-no-such-program-anywhere", {}, {}), -1);
    EXPECT_EQ(spawner.start("/bin/true", {}, "/kelvo/no/such/folder"), -1);
}

TEST(WebcastOpener, HandsTheAddressUnchangedToXdgOpenAndNothingForNone) {
    testing::FakeProcessLauncher launcher;
    EXPECT_EQ(openWebcastAddress(launcher, ""), -1);
    EXPECT_TRUE(launcher.launches.empty());

    const std::string address = "http://radio.example/live?a=1&b=$(x) y";
    openWebcastAddress(launcher, address);
    ASSERT_EQ(launcher.launches.size(), 1u);
    EXPECT_EQ(launcher.launches[0].program, "xdg-open");
    EXPECT_EQ(launcher.launches[0].args, std::vector<std::string>{address});
}

} // namespace
} // namespace kelvo
