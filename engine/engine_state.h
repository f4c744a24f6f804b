// The engine's process-wide state, shared by the caller's thread and the capture worker.
//
// Ownership: the caller's thread (the exports) owns everything here and changes the
// device, pool, file and worker only while no worker runs or after it has drained. The
// worker writes the peaks, the returned-buffer count and the file; it reads the flags.
// Flags and counters crossing threads are atomics; the file is handed over by the order
// start -> worker -> (drain, close, join) -> stop.
#pragma once

#include "engine/capture_device.h"
#include "engine/notification_queue.h"
#include "engine/wav_file.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace kelvo::engine {

struct PoolEntry {
    std::unique_ptr<std::uint8_t[]> memory;
    CaptureBuffer buffer;
};

struct EngineState {
    std::atomic<int> running{0};
    std::atomic<int> requeue{0};
    std::atomic<int> returned{0};
    std::atomic<int> paused{0};
    std::atomic<std::uint16_t> peakLeft{0};
    std::atomic<std::uint16_t> peakRight{0};
    std::atomic<std::uint16_t> widthSelector{0};

    CaptureFormat format{};
    std::unique_ptr<CaptureDevice> device;
    std::array<PoolEntry, 2> pool{};
    WavFile file;
    NotificationQueue queue;
    std::thread worker;

    // Test hook: the worker sleeps this long once before handling its next buffer.
    std::atomic<int> stallMs{0};
};

// The capture worker's loop; returns when it receives Quit.
void runCaptureWorker(EngineState& state);

} // namespace kelvo::engine
