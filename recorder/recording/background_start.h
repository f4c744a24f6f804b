// A capture engine start on a thread of its own, for a start that waits on the network: a
// stream's start connects before it returns (up to its 10 s limit), and the window's clock,
// meters and schedule must go on meanwhile.
//
// Threads: the start's thread calls initialize and startMonitor, nothing else; until the
// answer is back the caller's thread calls nothing of the engine but cancelStart(),
// status() and the peaks. The caller looks for the answer itself (result()), so that
// nothing made on the start's thread crosses over but the answer, under a lock.
#pragma once

#include "recorder/platform/capture_engine.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kelvo {

class BackgroundStart {
public:
    struct Result {
        int code = 0;  // the engine's answer
        int error = 0; // errno right after it: why the file could not be created
    };

    // Starts recording into `path` at once.
    BackgroundStart(CaptureEngine& engine, std::uint32_t channels, std::uint32_t sampleRate,
                    std::string path);
    // Cancels a start still under way and waits for it.
    ~BackgroundStart();
    BackgroundStart(const BackgroundStart&) = delete;
    BackgroundStart& operator=(const BackgroundStart&) = delete;

    // The engine's answer once the start has returned; none before.
    std::optional<Result> result() const;
    // Asks the engine to give up the connection, and waits up to `limit` for its answer;
    // true when it is there.
    bool cancel(std::chrono::milliseconds limit);

private:
    void run(std::uint32_t channels, std::uint32_t sampleRate, const std::string& path);
    void answer(Result result);

    CaptureEngine& engine_;
    mutable std::mutex mutex_;
    std::condition_variable done_;
    std::optional<Result> result_; // guarded by mutex_
    std::thread thread_;
};

} // namespace kelvo
