#include "recorder/platform/sleep_inhibitor_logind.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace kelvo {

LogindInhibitor::LogindInhibitor(QObject* parent) : QObject(parent) {}

LogindInhibitor::~LogindInhibitor() = default;

void LogindInhibitor::hold(const QString& why) {
    if (holding_) {
        return;
    }
    holding_ = true;
    const quint64 request = ++request_;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return; // no system bus: record without it
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("KelvoRecorder") << why
         << QStringLiteral("block");
    call.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
                // A refusal or a missing logind leaves nothing to hold; the caller records
                // anyway. A reply for a hold already released is dropped, closing it.
                if (reply.isError() || request != request_ || !holding_) {
                    return;
                }
                descriptor_ = reply.value();
            });
}

void LogindInhibitor::release() {
    holding_ = false;
    ++request_;
    // The last copy of the descriptor closes it; logind then lets the machine sleep.
    descriptor_ = QDBusUnixFileDescriptor();
}

} // namespace kelvo
