// The window with "Record every show on its schedule", and the handing over of a second
// start's command line. The window's platform services are doubles; the show files, the
// user's settings and the local socket are real, in temporary folders.
#include "recorder/app/main_window.h"
#include "recorder/app/show_panel.h"
#include "recorder/app/single_instance.h"
#include "tests/app/window_doubles.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kelvo {
namespace {

// Friday 5 March 2004, local time. A's schedule never fires; B's is at 21:05:10 to 21:05:20.
const QDate kFriday(2004, 3, 5);
QByteArray show(const char* start, const char* stop, const char* source, const char* days) {
    return QByteArray("\"") + start + "\",\"" + stop +
           "\",\"Windows Wave (WAV)\",\"22 kHz\",\"64 Kb/sec\",\"1\",0,0,\"" + source +
           "\",50,\"\",\"\"," + days + "\r\n";
}
const QByteArray kA = show("1:00:00 AM", "2:00:00 AM", "Line In", "0,0,0,0,0,0,0");
const QByteArray kB = show("9:05:10 PM", "9:05:20 PM", "Monitor of Speakers", "0,0,0,0,0,1,0");

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "KelvoRecorder",
                     "KelvoRecorder");
}

struct TemporaryFolder {
    QTemporaryDir folder;
};

class EveryShowWindow : public ::testing::Test,
                        protected TemporaryFolder,
                        protected testing::WindowDoubles {
protected:
    EveryShowWindow() : WindowDoubles(folder.path()) {
        QSettings s = settings();
        s.clear();
        s.sync();
        write("A", kA);
        write("B", kB);
        now = QDateTime(kFriday, QTime(21, 5, 0));
        services.arguments = {showPath("A").toStdString()};
        window = std::make_unique<MainWindow>(services);
        EXPECT_TRUE(window->startUp());
    }
    void write(const QString& name, const QByteArray& bytes) {
        testing::write(showPath(name), bytes);
    }
    // Ticks the clock once a second over [from, to] of the Friday.
    void run(QTime from, QTime to) {
        for (QTime t = from; t <= to; t = t.addSecs(1)) {
            now = QDateTime(kFriday, t);
            window->clockTick();
        }
    }
    QAction& everyShow() { return *window->findChild<QAction*>("recordEveryShow"); }
    const MainWindowControls& controls() const { return window->controls(); }
    std::string current() const { return window->shows().currentShowName(); }
    bool recording() const { return window->recording().isRecording(); }

    std::unique_ptr<MainWindow> window;
};

TEST_F(EveryShowWindow, OffByDefaultOrTurnedOffOtherShowsDoNothing) {
    EXPECT_EQ(everyShow().text(), "Record every show on its schedule");
    EXPECT_EQ(controls().showList->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_FALSE(everyShow().isChecked());
    run(QTime(21, 5, 0), QTime(21, 5, 30));
    EXPECT_EQ(controls().statusLine->toolTip(), "") << "A's own schedule has no weekday";
    EXPECT_TRUE(inhibitor.log.empty()) << "no start near, so sleep is not held off";

    everyShow().trigger(); // on, kept, and read by the next start
    window.reset();
    window = std::make_unique<MainWindow>(services);
    ASSERT_TRUE(window->startUp());
    EXPECT_TRUE(everyShow().isChecked());
    everyShow().trigger();
    EXPECT_EQ(settings().value("recordEveryShow").toBool(), false);
    run(QTime(21, 5, 0), QTime(21, 5, 30));
    EXPECT_EQ(current(), "A");
    EXPECT_TRUE(engine.starts.empty());
}

TEST_F(EveryShowWindow, OnItSwitchesToTheOtherShowRecordsItAndStopsAtItsStop) {
    everyShow().trigger();
    EXPECT_EQ(settings().value("recordEveryShow").toBool(), true);
    EXPECT_TRUE(QFile::exists(settings().fileName()));
    EXPECT_FALSE(settings().fileName().startsWith(folder.path())) << "never in configurations";
    controls().inputLevel->setValue(35);

    run(QTime(21, 5, 0), QTime(21, 5, 9));
    EXPECT_EQ(controls().statusLine->toolTip(), "Next: B, Fri 21:05:10");
    EXPECT_EQ(window->windowTitle(), "A - KelvoRecorder - Next: B, Fri 21:05:10");
    EXPECT_TRUE(inhibitor.held) << "B's start is near: sleep is held off for it too";

    run(QTime(21, 5, 10), QTime(21, 5, 10));
    EXPECT_EQ(current(), "B");
    ASSERT_TRUE(recording());
    EXPECT_TRUE(showFile("A").contains(",\"Line In\",35,")) << "A was saved before B was loaded";
    ASSERT_EQ(engine.starts.size(), 1u);
    EXPECT_EQ(engine.starts[0],
              "1,1,22000," + folder.path().toStdString() + "/soundfiles/B-03-05-04-21-05-10.wav");
    EXPECT_EQ(controls().sourceList->currentText(), "Monitor of Speakers");
    EXPECT_EQ(window->windowTitle(), "B - KelvoRecorder") << "no hint while recording";

    run(QTime(21, 5, 11), QTime(21, 5, 20));
    EXPECT_FALSE(recording());
    EXPECT_EQ(window->windowTitle(), "B - KelvoRecorder - Next: B, Fri 21:05:10") << "a week on";
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(EveryShowWindow, AnOverlappingStartIsRefusedToldAndTheRecordingGoesOn) {
    everyShow().trigger();
    run(QTime(21, 5, 0), QTime(21, 5, 5));
    controls().recordButton->click();
    ASSERT_TRUE(recording());
    run(QTime(21, 5, 6), QTime(21, 5, 25));
    EXPECT_TRUE(recording()) << "B's stop is not A's";
    EXPECT_EQ(current(), "A");
    EXPECT_EQ(controls().statusLine->text(), "B not recorded: A was recording");
    EXPECT_EQ(notifier.sent.back(), "B not recorded: A was recording | ");
    EXPECT_EQ(engine.starts.size(), 1u);
}

TEST_F(EveryShowWindow, AShowFileEditedOnDiskIsFollowed) {
    everyShow().trigger();
    write("B", show("9:05:40 PM", "9:05:45 PM", "Microphone", "1,1,1,1,1,1,1"));
    write("C", show("9:05:30 PM", "9:05:35 PM", "Line In", "1,1,1,1,1,1,1"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            window->clockTick();
            return controls().statusLine->toolTip() == "Next: C, Fri 21:05:30";
        },
        5000));
    run(QTime(21, 5, 1), QTime(21, 5, 36));
    EXPECT_EQ(engine.starts.size(), 1u) << "not at B's old time";
    EXPECT_EQ(current(), "C");
    EXPECT_FALSE(recording());
    run(QTime(21, 5, 37), QTime(21, 5, 45));
    EXPECT_EQ(current(), "B");
    ASSERT_EQ(engine.starts.size(), 2u);
    EXPECT_EQ(engine.starts[1],
              "1,1,22000," + folder.path().toStdString() + "/soundfiles/B-03-05-04-21-05-40.wav");
    EXPECT_FALSE(recording());
}

TEST_F(EveryShowWindow, AHandedOverCommandLineLoadsItsShowAsADropWould) {
    controls().inputLevel->setValue(35);
    // Relative to the other start's working folder.
    window->openHandedOver({"B"}, QFile::encodeName(folder.path() + "/configurations"));
    EXPECT_EQ(current(), "B");
    EXPECT_EQ(showFile("A"), kA) << "as a drop: the show before is not saved";
    EXPECT_EQ(controls().sourceList->currentText(), "Monitor of Speakers");

    // Split at its blank; named by its file name, as a drop is.
    QTemporaryDir elsewhere;
    testing::write(elsewhere.path() + "/My Show.cia", "");
    window->openHandedOver({QFile::encodeName(elsewhere.path() + "/My"), "Show.cia"}, "/");
    EXPECT_EQ(current(), "My Show.cia");

    window->openHandedOver({}, "/");
    EXPECT_EQ(current(), "My Show.cia") << "no file: only raised";
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

// The other start of the program: tests/app/hand_over_helper.
QString helper() {
    return QCoreApplication::applicationDirPath() + "/hand_over_helper";
}

// Bound and never listened on, as a recorder killed without cleaning up leaves it.
void leaveStaleSocket(const QString& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(name);
    ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(name));
}

int runHelper(const QStringList& arguments) {
    QProcess second;
    second.start(helper(), arguments);
    // The event loop runs meanwhile, so that a recorder in this process can answer.
    if (!QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 20000))
        return -1;
    if (second.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "the other start crashed: " << second.readAllStandardError().toStdString();
        return -2;
    }
    return second.exitCode();
}

TEST(SingleInstanceTest, ASecondStartHandsItsCommandLineOverAndEndsWithZero) {
    QTemporaryDir data;
    SingleInstance first(SingleInstance::serverName(data.path()));
    ASSERT_EQ(first.claim({}, "/"), SingleInstance::Claim::First);
    QSignalSpy handedOver(&first, &SingleInstance::commandLine);

    const QString before = QDir::currentPath();
    QDir::setCurrent(data.path());
    EXPECT_EQ(runHelper({data.path(), "My", "Show.cia"}), 0);
    ASSERT_TRUE(handedOver.size() == 1 || handedOver.wait(5000));
    EXPECT_EQ(handedOver[0][0].value<QByteArrayList>(), (QByteArrayList{"My", "Show.cia"}));
    EXPECT_EQ(handedOver[0][1].toByteArray(), QFile::encodeName(data.path()));

    // Started from a shell standing in a folder deleted since: no working folder to give.
    {
        QTemporaryDir gone;
        QDir::setCurrent(gone.path());
    }
    EXPECT_EQ(runHelper({data.path()}), 0) << "as often as the program is started";
    QDir::setCurrent(before);
    ASSERT_TRUE(handedOver.size() == 2 || handedOver.wait(5000));
    EXPECT_EQ(handedOver[1][1].toByteArray(), QByteArray());
}

TEST(SingleInstanceTest, ASocketLeftByACrashDoesNotBlockAStart) {
    QTemporaryDir data;
    const QString name = SingleInstance::serverName(data.path());
    leaveStaleSocket(name);
    EXPECT_EQ(runHelper({data.path()}), 3) << "the start went on as the first";

    leaveStaleSocket(name);
    SingleInstance first(name);
    ASSERT_EQ(first.claim({}, "/"), SingleInstance::Claim::First) << first.problem().toStdString();
    EXPECT_EQ(runHelper({data.path(), "A"}), 0) << "and it answers later starts";
}

TEST(SingleInstanceTest, EachUserAndDataFolderHasItsOwnRecorder) {
    QTemporaryDir a, b;
    QFile::link(a.path(), b.path() + "/link");
    EXPECT_NE(SingleInstance::serverName(a.path()), SingleInstance::serverName(b.path()));
    EXPECT_EQ(SingleInstance::serverName(a.path()), SingleInstance::serverName(b.path() + "/link"))
        << "one folder, however reached";
    EXPECT_TRUE(
        SingleInstance::serverName(a.path()).startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR")));
}

// Sets variables for as long as it lives.
class Environment {
public:
    void set(const char* name, const QString& value) {
        saved_.emplace_back(name, qgetenv(name), qEnvironmentVariableIsSet(name));
        if (value.isNull()) {
            qunsetenv(name);
        } else {
            qputenv(name, QFile::encodeName(value));
        }
    }
    ~Environment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            const auto& [name, value, was] = *it;
            was ? qputenv(name, value) : qunsetenv(name);
        }
    }

private:
    std::vector<std::tuple<const char*, QByteArray, bool>> saved_;
};

constexpr uid_t kNobody = 65534;

// A listener of another user's on `name`, as one who got there first leaves it: the socket
// file made by `fileOwner`, answered by a process of `listener`'s. Whatever it is sent can
// be read back with heard().
class Squatter {
public:
    Squatter(const QString& name, uid_t fileOwner, uid_t listener) {
        if (::pipe(heard_) != 0) {
            return;
        }
        const QByteArray path = QFile::encodeName(name);
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls from here on: the test's process has threads.
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
            if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                (fileOwner != 0 &&
                 ::chown(path.constData(), fileOwner, static_cast<gid_t>(-1)) != 0) ||
                ::setresuid(listener, listener, listener) != 0 || ::listen(fd, 4) != 0) {
                ::_exit(1);
            }
            (void)!::write(heard_[1], "R", 1);
            for (;;) {
                const int client = ::accept(fd, nullptr, nullptr);
                char buffer[256];
                ssize_t got = 0;
                while (client >= 0 && (got = ::read(client, buffer, sizeof buffer)) > 0) {
                    (void)!::write(heard_[1], buffer, static_cast<std::size_t>(got));
                }
                ::close(client);
            }
        }
        // Only the child writes: a child that failed ends the read below.
        ::close(std::exchange(heard_[1], -1));
        char ready = 0;
        ready_ = pid_ > 0 && ::read(heard_[0], &ready, 1) == 1;
        ::fcntl(heard_[0], F_SETFL, O_NONBLOCK);
    }
    ~Squatter() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(heard_[0]);
    }
    bool ready() const { return ready_; }
    QByteArray heard() const {
        QByteArray bytes;
        char buffer[256];
        for (ssize_t got; (got = ::read(heard_[0], buffer, sizeof buffer)) > 0;) {
            bytes.append(buffer, got);
        }
        return bytes;
    }

private:
    int heard_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool ready_ = false;
};

// Another user on the same machine must not be taken for the running recorder: it would
// learn the data folder and the show, and could end every start of the victim's.
TEST(SingleInstanceTest, ASocketOfAnotherUserNeverTakesTheCommandLine) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "making another user's socket needs root";
    }
    QTemporaryDir data, temporary, cache, runtime;
    ::chmod(QFile::encodeName(runtime.path()), 0700);
    const QString socketName = QFileInfo(SingleInstance::serverName(data.path())).fileName();
    Environment environment;
    environment.set("TMPDIR", temporary.path());
    environment.set("XDG_CACHE_HOME", cache.path());

    // Without XDG_RUNTIME_DIR the temporary folder's name was taken first by another user.
    environment.set("XDG_RUNTIME_DIR", QString());
    ::chmod(QFile::encodeName(temporary.path()), 0755); // as /tmp: open to all
    const QString squatted = temporary.path() + QString("/KelvoRecorder-%1").arg(::getuid());
    QDir().mkdir(squatted);
    ::chmod(QFile::encodeName(squatted), 0777);
    ::chown(QFile::encodeName(squatted), kNobody, kNobody);
    {
        Squatter squatter(squatted + "/" + socketName, kNobody, kNobody);
        ASSERT_TRUE(squatter.ready());
        EXPECT_EQ(SingleInstance::socketFolder(), cache.path() + "/KelvoRecorder");
        SingleInstance first(SingleInstance::serverName(data.path()));
        EXPECT_EQ(first.claim({"Show.cia"}, "/"), SingleInstance::Claim::First);
        EXPECT_EQ(runHelper({data.path(), "Show.cia"}), 0) << "a recorder all the same";
        EXPECT_EQ(squatter.heard(), QByteArray());
    }
    QFileInfo made(cache.path() + "/KelvoRecorder");
    EXPECT_EQ(made.permissions() & 0x0077, 0) << "nobody else may enter";
    // With it gone the temporary folder is this user's own again.
    QDir(squatted).removeRecursively();
    EXPECT_EQ(SingleInstance::socketFolder(), squatted);
    EXPECT_EQ(QFileInfo(squatted).ownerId(), ::getuid());

    // A socket in the user's own folder that another user made, or that another user's
    // process answers.
    environment.set("XDG_RUNTIME_DIR", runtime.path());
    for (const uid_t fileOwner : {kNobody, 0u}) {
        SCOPED_TRACE(fileOwner);
        Squatter squatter(runtime.path() + "/" + socketName, fileOwner, kNobody);
        ASSERT_TRUE(squatter.ready());
        SingleInstance start(SingleInstance::serverName(data.path()));
        EXPECT_EQ(start.claim({"Show.cia"}, "/"), SingleInstance::Claim::Unavailable);
        EXPECT_TRUE(start.problem().contains("belongs to another user"))
            << start.problem().toStdString();
        EXPECT_EQ(runHelper({data.path(), "Show.cia"}), 5) << "runs on its own";
        EXPECT_EQ(squatter.heard(), QByteArray());
        QFile::remove(runtime.path() + "/" + socketName);
    }
}

} // namespace
} // namespace kelvo

int main(int argc, char** argv) {
    // Settings and sockets in folders of this run only: never the user's, never another run's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    QDir().mkpath(home.path() + "/run");
    QFile::setPermissions(home.path() + "/run",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path() + "/run"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/share"));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
