// DesktopNotifier through the freedesktop notification service
// (org.freedesktop.Notifications.Notify on the session bus).
//
// Calls are sent without waiting for the reply, so a missing service or a slow one costs
// the window nothing. Window thread only.
#pragma once

#include "recorder/platform/desktop_notifier.h"

namespace kelvo {

class DbusNotifier : public DesktopNotifier {
public:
    static constexpr const char* kAppName = "KelvoRecorder";

    void notify(const QString& summary, const QString& body) override;
};

} // namespace kelvo
