#include "recorder/platform/notifier_dbus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace kelvo {

namespace {

constexpr int kShowForMs = -1; // the server's own default

} // namespace

void DbusNotifier::notify(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QString::fromLatin1(kAppName) << 0U << QStringLiteral("audio-input-microphone")
         << summary << body << QStringList() << QVariantMap() << kShowForMs;
    // No reply wanted: a desktop without the service must not delay or trouble the window.
    call.setAutoStartService(false);
    bus.send(call);
}

} // namespace kelvo
