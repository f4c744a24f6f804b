// Keeps the machine awake while it has work to do: while a recording runs and just before a
// scheduled one.
//
// Holding is best effort: a desktop without the service, or one that refuses, records all
// the same. hold() while held only updates nothing; release() while free does nothing.
// Window thread only.
#pragma once

#include <QString>

namespace kelvo {

class SleepInhibitor {
public:
    virtual ~SleepInhibitor() = default;

    // `why` is shown by the desktop to a user who asks what keeps it awake.
    virtual void hold(const QString& why) = 0;
    virtual void release() = 0;
    // True from hold() until release(), whether or not the service granted it.
    virtual bool holding() const = 0;
};

} // namespace kelvo
