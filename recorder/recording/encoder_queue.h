// Runs encoder.bat over the parts of finished recordings one at a time: the next part starts
// once the encoder of the one before has ended, so a long recording split over several WAV
// files does not start several encoders at once, and the window never waits for any.
//
// Window thread only: an encoder's end is seen through its exit descriptor by the event
// loop. Where the launcher cannot watch a program, the next part starts at once; parts still
// waiting when the queue is destroyed (the program ends) are all started then.
#pragma once

#include "recorder/recording/encoder_launcher.h"

#include <QObject>

#include <deque>
#include <memory>
#include <string>

class QSocketNotifier;

namespace kelvo {

class EncoderQueue : public QObject {
    Q_OBJECT

public:
    explicit EncoderQueue(EncoderLauncher launcher, QObject* parent = nullptr);
    ~EncoderQueue() override;

    // Queues one WAV file (relative to the data folder) for encoding at bitRate.
    void add(const std::string& bitRate, const std::string& wavName);

    // Files waiting, not counting the one being encoded.
    std::size_t waiting() const { return queue_.size(); }
    bool busy() const { return running_ != nullptr; }

private:
    struct Job {
        std::string bitRate;
        std::string wavName;
    };

    void startNext();
    void finished();

    EncoderLauncher launcher_;
    std::deque<Job> queue_;
    std::unique_ptr<QSocketNotifier> running_; // the running encoder's exit descriptor
    int runningFd_ = -1;
};

} // namespace kelvo
