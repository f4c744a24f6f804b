// Turns SIGTERM, SIGINT and SIGHUP (a session logging out, a service stopping, Ctrl-C in a
// terminal) into a call on the window's thread, where the window ends as on an ordinary
// close: a running recording is completed and the show saved, but nobody is waited for.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace kelvo {

// A write past the file size limit or into a closed pipe then fails with EFBIG or EPIPE,
// which the engine reports and the recording survives, instead of ending the program.
void ignoreWriteSignals();

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // One per process; onSignal runs once per burst of signals, from the event loop.
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    void onSignal();

    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kelvo
