// Desktop notifications: short messages for a user who is not looking at the window.
//
// Sending never waits and never fails where the caller can see it: a desktop without a
// notification service simply shows nothing. Window thread only.
#pragma once

#include <QString>

namespace kelvo {

class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;

    // One notification titled `summary`, with `body` below it (may be empty).
    virtual void notify(const QString& summary, const QString& body) = 0;
};

} // namespace kelvo
