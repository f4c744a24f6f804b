// SleepInhibitor through logind: org.freedesktop.login1.Manager.Inhibit("sleep:idle",
// "KelvoRecorder", why, "block") on the system bus. logind holds the block as long as the
// descriptor it returns stays open; release() closes it.
//
// The call is made without waiting: its reply is taken whenever it arrives, and a reply
// that arrives after release() is closed at once. Window thread only (the replies are
// delivered there by Qt's event loop).
#pragma once

#include "recorder/platform/sleep_inhibitor.h"

#include <QDBusUnixFileDescriptor>
#include <QObject>

namespace kelvo {

class LogindInhibitor : public QObject, public SleepInhibitor {
    Q_OBJECT

public:
    explicit LogindInhibitor(QObject* parent = nullptr);
    ~LogindInhibitor() override;

    void hold(const QString& why) override;
    void release() override;
    bool holding() const override { return holding_; }

    // Whether logind's descriptor is held now (for tests and diagnostics).
    bool granted() const { return descriptor_.isValid(); }

private:
    bool holding_ = false;
    quint64 request_ = 0; // the hold a reply belongs to; a stale reply is dropped
    QDBusUnixFileDescriptor descriptor_;
};

} // namespace kelvo
