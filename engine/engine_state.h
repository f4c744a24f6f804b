// The engine's process-wide state, shared by the caller's thread, the reconnect thread and
// the capture worker.
//
// Ownership: the caller's thread (the exports) owns everything here and changes the pool,
// file and worker only while no worker runs or after it has drained. The device is swapped
// by the reconnect thread while a capture runs, always under deviceMutex, which the worker
// also takes to hand a buffer back. The worker writes the peaks, the returned-buffer count,
// the file, the timeline and the status counters; it reads the flags. Flags and counters
// crossing threads are atomics; the file is handed over by the order
// start -> worker -> (drain, close, join) -> stop.
#pragma once

#include "engine/capture_device.h"
#include "engine/cue_sheet.h"
#include "engine/notification_queue.h"
#include "engine/wav_file.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kelvo::engine {

struct PoolEntry {
    std::unique_ptr<std::uint8_t[]> memory;
    CaptureBuffer buffer;
};

// Nanoseconds on a steady clock; the engine's timeline follows it.
using EngineClock = std::function<std::int64_t()>;

// What KelvoGetStatus reports; written by the worker (and the state by the reconnect thread),
// read from anywhere.
struct StatusCounters {
    std::atomic<int> deviceState{0};
    std::atomic<int> lastWriteError{0};
    std::atomic<std::uint64_t> framesCaptured{0};
    std::atomic<std::uint64_t> framesFilled{0};
    std::atomic<std::uint64_t> bytesWritten{0};
    std::atomic<std::uint32_t> gaps{0};
    std::atomic<std::uint32_t> parts{0};
    std::atomic<std::uint64_t> lastGapFrames{0};
    std::atomic<std::uint64_t> framesSilent{0};
    std::atomic<std::uint64_t> silentRunFrames{0};
    std::atomic<std::uint64_t> sumOfSquares{0};
    std::atomic<std::uint64_t> samples{0};
    std::atomic<std::uint32_t> highestPeak{0};
    std::atomic<std::int64_t> timelineStartNs{0};
};

// The worker's own account of the recording's timeline. The one rule: frame n of the
// timeline stands for the moment anchorNs + n / rate; every buffer and every fill is placed
// against it, so what is written is always the difference between the rule and the files.
struct Timeline {
    std::uint64_t frames = 0;     // on the timeline: written, paused, or beyond the fill bound
    bool anchored = false;        // the first frame was captured (or a fill began the timeline)
    std::int64_t anchorNs = 0;    // on the engine's clock: when timeline frame 0 was captured
    bool away = false;            // the device is lost or its source missing: fill to the clock
    bool gapOpen = false;         // silence is being filled
    std::uint64_t gapFrames = 0;  // length of the open gap so far
    std::uint64_t gapWritten = 0; // silence of the open gap that went into the file
    bool nextPart = false;        // the gap outgrew the fill bound: new audio starts a new part
    std::int64_t lastDataNs = 0;  // when the live device last delivered
    std::int64_t lastLoopNs = 0;  // when the worker last ran its loop
    std::int64_t watchFromNs = 0; // a quiet live device is judged from here
};

struct EngineState {
    std::atomic<int> running{0};
    std::atomic<int> requeue{0};
    std::atomic<int> returned{0};
    std::atomic<int> paused{0};
    std::atomic<std::uint16_t> peakLeft{0};
    std::atomic<std::uint16_t> peakRight{0};
    std::atomic<std::uint16_t> widthSelector{0};
    StatusCounters status;

    CaptureFormat format{};
    std::mutex deviceMutex;
    std::unique_ptr<CaptureDevice> device;
    std::array<PoolEntry, 2> pool{};
    WavFile file;
    CueSheet cue; // prepared for a stream recording only
    NotificationQueue queue;
    std::thread worker;

    // Set before the worker sees the capture's first notification.
    EngineClock clock;
    std::atomic<std::int64_t> startedAt{0};
    std::uint64_t maxFillFrames = 0;
    Timeline timeline; // the worker's alone

    // The worker tells the reconnect thread that the device is lost.
    std::mutex reconnectMutex;
    std::condition_variable reconnectWake;
    bool deviceLost = false;    // guarded by reconnectMutex
    bool quitReconnect = false; // guarded by reconnectMutex

    // Test hook: the worker sleeps this long once before handling its next buffer.
    std::atomic<int> stallMs{0};
};

// Frames of `rate` in `ns` nanoseconds (negative: 0).
inline std::uint64_t framesIn(std::int64_t ns, std::uint32_t rate) {
    return ns <= 0 ? 0
                   : static_cast<std::uint64_t>(static_cast<__int128>(ns) * rate / 1'000'000'000);
}

// The capture worker's loop; returns when it receives Quit.
void runCaptureWorker(EngineState& state);

} // namespace kelvo::engine
