// Runs encoder.bat over the parts of finished recordings and judges each run. The parts of
// one recording are encoded in their order, each once the encoder of the one before has
// ended; different recordings do not wait for each other, so an encoder that hangs holds up
// only its own recording. The window never waits for any.
//
// An encoder has done its job when it exited with 0 and left an MP3 that is not empty.
// Anything else is a failure, told through outcome(). One still running after an hour, or
// four times its recording's length if that is longer, is told once and left running.
//
// Window thread only: an encoder's end is seen through its exit descriptor by the event
// loop. Where the launcher cannot watch a program, the next part starts at once; parts still
// waiting when the queue is destroyed (the program ends) are all started then.
#pragma once

#include "recorder/recording/encoder_launcher.h"
#include "recorder/recording/recording_report.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvo {

struct EncoderJob {
    QString key;  // names the recording to the caller: its report's path, say
    QString show; // as the user reads it
    std::string bitRate;
    std::vector<std::string> parts;    // WAV files relative to the data folder, in order
    std::int64_t recordingSeconds = 0; // the recording's length, for the patience
};

struct EncoderOutcome {
    QString key;
    std::size_t part = 0; // index into the job's parts
    EncoderState state = EncoderState::Running;
    std::optional<int> exitCode;
    QString text; // what to tell: "MP3 of SHOW not made: ..."; empty when all is well
};

class EncoderQueue : public QObject {
    Q_OBJECT

public:
    static constexpr std::int64_t kPatienceSeconds = 3600;

    // patienceSeconds: the least time an encoder may run before it is told as slow.
    explicit EncoderQueue(EncoderLauncher launcher, QObject* parent = nullptr,
                          std::int64_t patienceSeconds = kPatienceSeconds);
    ~EncoderQueue() override;

    // Queues the parts of one recording.
    void add(EncoderJob job);

    // Files waiting, not counting those being encoded.
    std::size_t waiting() const;
    bool busy() const;

    static QString notMadeText(const QString& show, const QString& why);
    static QString slowText(const QString& show, std::int64_t seconds);

signals:
    // A part started, ended, failed or turned slow.
    void outcome(const EncoderOutcome& outcome);

private:
    struct Chain;

    void startNext(Chain& chain);
    // "there is no encoder.bat in FOLDER or FOLDER": what the user can mend.
    QString missingScriptText() const;
    void finished(Chain& chain);
    void judge(Chain& chain, std::optional<int> waitStatus);
    void tell(Chain& chain, EncoderState state, std::optional<int> exitCode = {},
              const QString& text = {});

    EncoderLauncher launcher_;
    std::int64_t patienceSeconds_;
    std::vector<std::unique_ptr<Chain>> chains_;
};

} // namespace kelvo
