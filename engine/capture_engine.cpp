#include "engine/capture_engine.h"

#include <new>
#include <system_error>
#include <thread>

namespace kelvo::engine {

CaptureFormat CaptureFormat::fromChannels(std::uint32_t channels, std::uint32_t sampleRate) {
    CaptureFormat f;
    f.channels = static_cast<std::uint16_t>(channels);
    f.sampleRate = sampleRate;
    f.bitsPerSample = static_cast<std::uint16_t>(8 * channels);
    f.blockAlign = static_cast<std::uint16_t>(channels * channels);
    f.avgBytesPerSec = sampleRate * f.blockAlign;
    return f;
}

Engine::Engine(DeviceFactory makeDevice) : makeDevice_(std::move(makeDevice)) {}

Engine::~Engine() {
    stop();
}

int Engine::initialize() {
    // Clearing the state of a running capture would orphan its device and worker and
    // corrupt its file; the caller is required not to, and nothing happens if it does.
    if (running())
        return 0;
    state_.peakLeft = 0;
    state_.peakRight = 0;
    state_.widthSelector = 0;
    state_.paused = 0;
    return 0;
}

int Engine::start(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
                  const char* fileName) {
    if (running())
        return -999;
    // Formats no device can take are refused before anything is acquired.
    if ((channels != 1 && channels != 2) || sampleRate < 1000 || sampleRate > 384000)
        return -3;
    if (writeFile != 0 && (fileName == nullptr || fileName[0] == '\0'))
        return -99;

    state_.queue.clear();
    state_.returned = 0;
    state_.requeue = 0;
    try {
        state_.worker = std::thread(runCaptureWorker, std::ref(state_));
    } catch (const std::system_error&) {
        return -1;
    }

    state_.format = CaptureFormat::fromChannels(channels, sampleRate);
    state_.widthSelector = static_cast<std::uint16_t>(channels);
    const std::uint32_t bytes = state_.format.avgBytesPerSec / 20; // 50 ms
    for (PoolEntry& e : state_.pool) {
        e.memory.reset(new (std::nothrow) std::uint8_t[bytes]);
        e.buffer = CaptureBuffer{e.memory.get(), bytes, 0, false};
    }
    if (!state_.pool[0].memory || !state_.pool[1].memory) {
        releaseFailedStart(false, false);
        return -4;
    }

    try {
        state_.device = makeDevice_();
    } catch (...) {
        state_.device.reset();
    }
    if (!state_.device || state_.device->open(state_.format, state_.queue) != 0) {
        state_.device.reset();
        releaseFailedStart(false, false);
        return -3;
    }
    for (PoolEntry& e : state_.pool) {
        if (state_.device->prepare(e.buffer) != 0) {
            releaseFailedStart(true, false);
            return -4;
        }
    }
    for (PoolEntry& e : state_.pool) {
        if (state_.device->addBuffer(e.buffer) != 0) {
            releaseFailedStart(true, true);
            return -5;
        }
    }
    if (writeFile != 0) {
        state_.paused = 0;
        if (!state_.file.create(fileName, state_.format, maxDataBytes_)) {
            releaseFailedStart(true, true);
            return -99;
        }
    }
    state_.requeue.store(1, std::memory_order_release);
    if (state_.device->start() != 0) {
        releaseFailedStart(true, true);
        return -6;
    }
    state_.running = 1;
    return 0;
}

void Engine::releaseFailedStart(bool deviceOpen, bool queued) {
    state_.requeue = 0;
    if (deviceOpen) {
        if (queued)
            state_.device->reset();
        for (PoolEntry& e : state_.pool)
            state_.device->unprepare(e.buffer);
        state_.device->close();
    }
    endWorker();
    state_.device.reset();
    // A file created by this attempt is completed as an empty recording, never left with
    // a header that claims nothing valid.
    state_.file.finish();
    for (PoolEntry& e : state_.pool)
        e = PoolEntry{};
}

void Engine::endWorker() {
    if (!state_.worker.joinable())
        return;
    state_.queue.post({Notification::Quit, nullptr});
    state_.worker.join();
}

bool Engine::waitForReturnedBuffers() {
    // Short steps rather than long sleeps: a stop blocks the window, and the buffers are
    // usually back within 100 ms.
    const auto deadline = std::chrono::steady_clock::now() + drainLimit_;
    while (state_.returned.load(std::memory_order_acquire) < 2) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

namespace {

int releaseCode(int deviceError) {
    switch (deviceError) {
    case kDeviceInvalidHandle:
        return -50;
    case kDeviceNoDriver:
        return -51;
    case kDeviceNoMemory:
        return -52;
    case kDeviceStillQueued:
        return -53;
    default:
        return -666;
    }
}

} // namespace

int Engine::stop() {
    if (!running())
        return 0;
    state_.running = 0;
    state_.requeue.store(0, std::memory_order_release);

    // Whatever fails, everything is released; the first failure is what the caller sees.
    int rc = 0;
    auto fail = [&rc](int code) {
        if (rc == 0)
            rc = code;
    };

    waitForReturnedBuffers();
    if (state_.device->reset() != 0)
        fail(-10);
    for (PoolEntry& e : state_.pool) {
        if (int err = state_.device->unprepare(e.buffer); err != 0)
            fail(releaseCode(err));
    }
    if (state_.device->close() != 0)
        fail(-11);
    // The worker handles everything the device posted before it quits, so the file is
    // complete and no longer touched once it has been joined.
    endWorker();
    state_.device.reset();
    if (int fileRc = state_.file.finish(); fileRc != 0)
        fail(fileRc);
    for (PoolEntry& e : state_.pool)
        e = PoolEntry{};
    return rc;
}

int Engine::togglePause() {
    state_.paused.fetch_xor(1);
    return 0;
}

} // namespace kelvo::engine
