// The notifier and the sleep inhibitor against real D-Bus daemons: a private session bus and
// a private "system" bus, started for this process, with stand-ins for the notification
// server and logind written here. Also: buses without either service cost a recording
// nothing.
#include "recorder/platform/notifier_dbus.h"
#include "recorder/platform/sleep_inhibitor_logind.h"
#include "tests/eventually.h"
#include "tests/recording/fakes.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

namespace kelvo {
namespace {

// The notification server's one call that matters; records every Notify.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList calls;

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int) {
        calls << app + " | " + summary + " | " + body;
        return static_cast<uint>(calls.size());
    }
};

// logind's Inhibit: hands out the write end of a pipe and keeps the read end, which reports
// a hang-up once every copy of the write end is closed.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    ~FakeLogind() override {
        if (readEnd >= 0) {
            close(readEnd);
        }
    }
    QStringList calls;
    int readEnd = -1;

    bool released() const {
        pollfd p{readEnd, POLLIN, 0};
        return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        calls << what + " | " + who + " | " + why + " | " + mode;
        int ends[2];
        if (pipe(ends) != 0) {
            return {};
        }
        readEnd = ends[0];
        QDBusUnixFileDescriptor handed(ends[1]); // keeps a duplicate
        close(ends[1]);
        return handed;
    }
};

// Puts a stand-in on the bus under its well-known name, for the test's life.
template <typename Service> class OnBus {
public:
    OnBus(QDBusConnection::BusType type, const char* name, const char* path, const char* id)
        : connection_(QDBusConnection::connectToBus(type, id)) {
        ok = connection_.isConnected() &&
             connection_.registerObject(path, &service, QDBusConnection::ExportAllSlots) &&
             connection_.registerService(name);
    }
    ~OnBus() { QDBusConnection::disconnectFromBus(connection_.name()); }
    Service service;
    bool ok = false;

private:
    QDBusConnection connection_;
};

class DbusServicesTest : public ::testing::Test,
                         public testing::ControllerRig<DbusNotifier, LogindInhibitor> {
protected:
    OnBus<FakeNotificationServer> notifications() {
        return {QDBusConnection::SessionBus, "org.freedesktop.Notifications",
                "/org/freedesktop/Notifications", "notifications"};
    }
    OnBus<FakeLogind> logind() {
        return {QDBusConnection::SystemBus, "org.freedesktop.login1", "/org/freedesktop/login1",
                "logind"};
    }
};

TEST_F(DbusServicesTest, AScheduledRecordingIsNotifiedAndHoldsLogindsDescriptorUntilStop) {
    auto notifications = this->notifications();
    auto logind = this->logind();
    ASSERT_TRUE(notifications.ok && logind.ok);

    startScheduled(60);
    ASSERT_TRUE(controller.isRecording());
    EVENTUALLY_TRUE(inhibitor.granted());
    EXPECT_EQ(logind.service.calls,
              QStringList{"sleep:idle | KelvoRecorder | Recording Default | block"});
    EXPECT_FALSE(logind.service.released());
    EVENTUALLY_EQ(notifications.service.calls.size(), 1);
    EXPECT_EQ(notifications.service.calls[0],
              "KelvoRecorder | Recording Default | From Microphone into "
              "soundfiles/Default-03-05-04-21-07-09.wav");

    controller.stopRecording();
    // Both ends of the bus live in this process, and the bus library lets go of its own
    // copies of a message in flight moments after it was handled.
    EVENTUALLY_TRUE_WITHIN(logind.service.released(), 1000);
    EVENTUALLY_EQ(notifications.service.calls.size(), 2);
    EXPECT_EQ(notifications.service.calls[1],
              "KelvoRecorder | Recording Default ended: 0:00:00, all well | "
              "soundfiles/Default-03-05-04-21-07-09.wav, 0:00:00");
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(DbusServicesTest, AHoldReleasedBeforeLogindAnsweredDoesNotKeepItsDescriptor) {
    auto logind = this->logind();
    ASSERT_TRUE(logind.ok);
    inhibitor.hold("Recording Default soon");
    inhibitor.release(); // before the event loop delivered the answer
    EVENTUALLY_EQ(logind.service.calls.size(), 1);
    EVENTUALLY_TRUE(logind.service.released());
    EXPECT_FALSE(inhibitor.granted());
}

TEST_F(DbusServicesTest, BusesWithoutEitherServiceCostTheRecordingNothing) {
    QElapsedTimer elapsed;
    elapsed.start();
    startScheduled(60);
    EXPECT_TRUE(controller.isRecording());
    controller.stopRecording();
    EXPECT_LT(elapsed.elapsed(), 500) << "no waiting on a missing service";
    QTest::qWait(200); // let any error reply arrive: it must change nothing
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(status.text(), "Idle");
    EXPECT_EQ(engine.starts.size(), 1u);
    EXPECT_FALSE(inhibitor.holding() || inhibitor.granted());
}

} // namespace
} // namespace kelvo

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Two dbus-daemons of this process's own, ended with it. A bus's address is read when it
    // is first used, which is after this.
    QTemporaryDir folder;
    QProcess daemons[2];
    const char* const buses[][2] = {{"session", "DBUS_SESSION_BUS_ADDRESS"},
                                    {"system", "DBUS_SYSTEM_BUS_ADDRESS"}};
    for (int i = 0; i < 2; ++i) {
        const QString address = "unix:path=" + folder.path() + "/" + buses[i][0];
        daemons[i].start("dbus-daemon", {"--session", "--nofork", "--nopidfile",
                                         "--address=" + address, "--print-address"});
        if (!daemons[i].waitForStarted(5000) || !daemons[i].waitForReadyRead(5000)) {
            fprintf(stderr, "dbus-daemon did not start\n");
            return 1;
        }
        qputenv(buses[i][1], address.toUtf8());
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    for (QProcess& daemon : daemons) {
        daemon.terminate();
        daemon.waitForFinished(5000);
    }
    return result;
}

#include "dbus_services_test.moc"
