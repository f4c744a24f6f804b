// Turns SIGTERM, SIGINT and SIGHUP (a session logging out, Ctrl-C in a terminal) into an
// ordinary close of the window, so a running recording is completed and the show saved
// exactly as when the user closes it.
#pragma once

#include <QObject>

class QSocketNotifier;
class QWidget;

namespace kelvo {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // One per process; the window must outlive it.
    explicit TerminationSignals(QWidget& window, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    void onSignal();

    QWidget& window_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kelvo
