#include "recorder/recording/encoder_queue.h"

#include <QSocketNotifier>

#include <unistd.h>

#include <utility>

namespace kelvo {

EncoderQueue::EncoderQueue(EncoderLauncher launcher, QObject* parent)
    : QObject(parent), launcher_(std::move(launcher)) {}

EncoderQueue::~EncoderQueue() {
    running_.reset();
    if (runningFd_ >= 0) {
        close(runningFd_);
    }
    // The program is ending: parts still waiting are started now, side by side, rather than
    // never; encoders outlive the recorder anyway.
    for (const Job& job : queue_) {
        launcher_.run(job.bitRate, job.wavName);
    }
}

void EncoderQueue::add(const std::string& bitRate, const std::string& wavName) {
    queue_.push_back({bitRate, wavName});
    if (!busy()) {
        startNext();
    }
}

void EncoderQueue::startNext() {
    while (!queue_.empty()) {
        const Job job = std::move(queue_.front());
        queue_.pop_front();
        int exitFd = -1;
        const int pid = launcher_.runWatched(job.bitRate, job.wavName, exitFd);
        if (pid > 0 && exitFd >= 0) {
            runningFd_ = exitFd;
            running_ = std::make_unique<QSocketNotifier>(exitFd, QSocketNotifier::Read);
            connect(running_.get(), &QSocketNotifier::activated, this, &EncoderQueue::finished);
            return;
        }
        if (exitFd >= 0) {
            close(exitFd);
        }
        // Not started, or not watchable: nothing to wait for before the next part.
    }
}

void EncoderQueue::finished() {
    // The notifier may not be deleted inside its own signal.
    running_.release()->deleteLater();
    close(runningFd_);
    runningFd_ = -1;
    startNext();
}

} // namespace kelvo
