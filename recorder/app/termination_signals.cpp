#include "recorder/app/termination_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace kelvo {
namespace {

// The handler may only write to a pipe; the window's thread reads it.
int g_pipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    (void)!::write(g_pipe[1], &byte, 1);
}

} // namespace

void ignoreWriteSignals() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int signal : {SIGXFSZ, SIGPIPE})
        sigaction(signal, &ignore, nullptr);
}

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::onSignal);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signal, SIG_DFL);
    delete notifier_;
    for (int& end : g_pipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void TerminationSignals::onSignal() {
    char drained[16];
    while (::read(g_pipe[0], drained, sizeof drained) > 0) {
    }
    if (onSignal_) {
        onSignal_();
    }
}

} // namespace kelvo
