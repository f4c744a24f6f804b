// Doubles of the recorder's services: they log what they are asked and answer as configured.
#pragma once

#include "recorder/platform/capture_engine.h"
#include "recorder/platform/desktop_notifier.h"
#include "recorder/platform/process_launcher.h"
#include "recorder/platform/sleep_inhibitor.h"
#include "recorder/recording/recording_controller.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace kelvo::testing {

// Every call is logged; each start also as "writeFile,channels,rate,name". A stream's start
// may run on a thread of its own: with holdStreams it waits there, as a slow connection
// would, until release() or cancelStart().
class FakeCaptureEngine : public CaptureEngine {
public:
    int initialize() override { return log("initialize", initializeResult); }
    int startMonitor(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
                     const std::string& fileName) override {
        std::unique_lock lock(mutex_);
        starts.push_back(std::to_string(writeFile) + "," + std::to_string(channels) + "," +
                         std::to_string(sampleRate) + "," + fileName);
        calls.push_back("startMonitor");
        int result = stream.empty() ? startResult : streamStartResult;
        if (!stream.empty() && holdStreams) {
            holding_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return released_ || cancelled_; });
            holding_ = released_ = false;
            if (std::exchange(cancelled_, false)) {
                result = KELVO_ERR_START_CANCELLED;
            }
        }
        if (result == 0 && writeFile != 0 && createFiles) {
            QFile(QString::fromStdString(fileName)).open(QIODevice::WriteOnly);
        }
        errno = startErrno;
        return result;
    }
    void cancelStart() override {
        std::lock_guard lock(mutex_);
        calls.push_back("cancelStart");
        cancelled_ = holding_ && cancelReaches;
        changed_.notify_all();
    }
    // Waits until a stream's start holds; the calls are then safe to read.
    bool waitForHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return holding_; });
    }
    // The held start goes on, with the answer it was given.
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    int stopMonitor() override { return log("stopMonitor", 0); }
    bool holdStreams = false;  // a stream's start waits for release() or cancelStart()
    bool createFiles = false;  // a start that succeeds writes its file, as the engine does
    bool cancelReaches = true; // false: cancelStart() is not heard, as by an older engine
    int togglePause() override { return log("togglePause", 0); }
    int setSource(const std::string& serverName) override {
        return log(("setSource " + serverName).c_str(), 0);
    }
    int setStream(const std::string& url) override {
        log(("setStream " + url).c_str(), 0);
        if (setStreamResult != 0 && !url.empty()) {
            return setStreamResult;
        }
        stream = url;
        return 0;
    }
    int keepStreamCopy(bool keep) override {
        return log(keep ? "keepStreamCopy 1" : "keepStreamCopy 0", 0);
    }
    int peakLeft() override { return left; }
    int peakRight() override { return right; }
    bool status(KelvoStatus& out) override {
        if (statusValue) {
            out = *statusValue;
        }
        return statusValue.has_value();
    }
    std::string loadError() const override { return loadErrorText; }

    int initializeResult = 0, startResult = 0, startErrno = 0, left = 0, right = 0;
    int setStreamResult = 0, streamStartResult = 0; // the starts of a stream answer this
    std::string stream;                             // set by setStream
    std::optional<KelvoStatus> statusValue;         // none: an engine from before the status export
    std::string loadErrorText;
    std::vector<std::string> calls, starts;

private:
    int log(const char* call, int result) {
        std::lock_guard lock(mutex_);
        calls.push_back(call);
        return result;
    }

    std::mutex mutex_; // the starts' thread logs too
    std::condition_variable changed_;
    bool holding_ = false, released_ = false, cancelled_ = false;
};

// Each start is kept as the program, its arguments and the working folder, in one list.
// A watched start "runs" until end() is called for it.
class FakeProcessLauncher : public ProcessLauncher {
public:
    ~FakeProcessLauncher() override {
        for (int fd : running) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    int start(const std::string& program, const std::vector<std::string>& args,
              const std::string& workingFolder) override {
        launches.push_back({program});
        launches.back().insert(launches.back().end(), args.begin(), args.end());
        launches.back().push_back(workingFolder);
        running.push_back(-1);
        return 4242;
    }
    int startWatched(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workingFolder, int& exitFd) override {
        const int pid = start(program, args, workingFolder);
        int ends[2];
        if (pipe(ends) != 0) {
            exitFd = -1;
            return pid;
        }
        exitFd = ends[0];
        running.back() = ends[1];
        return pid;
    }
    // The program of launch `index` ends with `exitCode`: its exit descriptor turns readable.
    void end(std::size_t index, int exitCode = 0) {
        const int status = exitCode << 8; // as waitpid gives an exit
        if (write(running.at(index), &status, sizeof status) != sizeof status) {
            ADD_FAILURE() << "the exit status of launch " << index << " was not passed on";
        }
        close(running.at(index));
        running.at(index) = -1;
    }

    std::vector<std::vector<std::string>> launches;
    std::vector<int> running; // per launch: the write end that keeps it "running"
};

class FakeNotifier : public DesktopNotifier {
public:
    void notify(const QString& summary, const QString& body) override {
        sent.push_back((summary + " | " + body).toStdString());
    }
    std::vector<std::string> sent;
};

class FakeInhibitor : public SleepInhibitor {
public:
    void hold(const QString& why) override {
        if (!held) {
            log.push_back("hold " + why.toStdString());
        }
        held = true;
    }
    void release() override {
        if (held) {
            log.push_back("release");
        }
        held = false;
    }
    bool holding() const override { return held; }

    bool held = false;
    std::vector<std::string> log;
};

// The mixer as recording sees it; every selection is logged into `calls`.
class FakeSourceSelection : public SourceSelection {
public:
    explicit FakeSourceSelection(std::vector<std::string>& calls) : calls_(calls) {}
    void applySourceSelection() override { calls_.push_back("source"); }
    std::string selectedSourceName() const override { return name; }
    std::string chosenSourceId() const override { return id; }
    bool ready() const override { return mixerStarted; }
    bool mixerStarted = true;
    std::string name = "Microphone";
    std::string id = "speakers.monitor";

private:
    std::vector<std::string>& calls_;
};

// A controller in a data folder of its own, recording `show` (the show "Default" on the
// start-up defaults until a test changes it).
template <typename Notifier, typename Inhibitor> struct ControllerRig {
    // encoderPatience: seconds an encoder may run before it is told as slow.
    explicit ControllerRig(std::int64_t patience = 3600) : encoderPatience(patience) {
        QDir(data).mkdir("soundfiles");
        QFile script(data + "/encoder.bat");
        script.open(QIODevice::WriteOnly);
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // The signals log into the engine's call list, so a test sees one ordered story.
        QObject::connect(&controller, &RecordingController::engineWanted,
                         [this] { engine.calls.push_back("engine wanted"); });
        QObject::connect(&controller, &RecordingController::startFailed,
                         [this] { engine.calls.push_back("start failed"); });
        QObject::connect(&controller, &RecordingController::recordingStarted,
                         [this] { meterPoll.start(); });
        QObject::connect(&controller, &RecordingController::recordingStopped,
                         [this] { meterPoll.stop(); });
    }
    void start() { controller.startRecording(show); }
    void startScheduled(std::int64_t seconds) { controller.startScheduledRecording(show, seconds); }
    ShowRecord& settings() { return show.settings.file; }

    QTemporaryDir folder;
    const QString data = folder.path();
    const std::string dataText = data.toStdString();
    FakeCaptureEngine engine;
    FakeProcessLauncher launcher;
    Notifier notifier;
    Inhibitor inhibitor;
    std::optional<std::uint64_t> freeBytes; // none: the disk cannot tell
    FakeSourceSelection sources{engine.calls};
    ShowSnapshot show;
    QLabel status, clock;
    QTimer meterPoll, blink; // the meters' poll follows the controller's signals
    QDateTime now{QDate(2004, 3, 5), QTime(21, 7, 9)};
    QStringList messages;
    std::int64_t encoderPatience;
    // While a message is up the schedule's clock keeps ticking and may start again.
    RecordingController controller{engine,
                                   launcher,
                                   {&status, &clock, &blink},
                                   &sources,
                                   [this](const QString& text) {
                                       messages << text;
                                       controller.startRecording(show);
                                   },
                                   [this] { return now; },
                                   {data,
                                    {dataText},
                                    &notifier,
                                    &inhibitor,
                                    [this](const QString&) { return freeBytes; },
                                    encoderPatience}};
};

} // namespace kelvo::testing
