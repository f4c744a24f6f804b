// A notification server for the whole-program tests: takes org.freedesktop.Notifications on
// the session bus and appends each Notify as "summary | body" to the file named by its one
// argument. Prints "ready" once it owns the name.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QTextStream>

#include <cstdio>

class NotificationLog : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit NotificationLog(const QString& path) : file_(path) {}
    bool open() { return file_.open(QIODevice::Append | QIODevice::Text); }

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        file_.write((summary + " | " + body + "\n").toUtf8());
        file_.flush();
        return ++count_;
    }

private:
    QFile file_;
    uint count_ = 0;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fake_notification_server LOG\n");
        return 2;
    }
    NotificationLog log(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!log.open() ||
        !bus.registerObject("/org/freedesktop/Notifications", &log,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService("org.freedesktop.Notifications")) {
        std::fprintf(stderr, "fake_notification_server: cannot serve\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "fake_notification_server.moc"
