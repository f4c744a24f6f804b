#include "engine/engine.h"

#include "engine/capture_ring.h"
#include "engine/playlist.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <time.h>

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

Engine::Engine(DeviceFactory makeDevice, StreamDeviceFactory makeStream)
    : makeDevice_(std::move(makeDevice)), makeStream_(std::move(makeStream)) {}

int Engine::setStream(const char* address) {
    if (address == nullptr || address[0] == '\0') {
        stream_.clear();
        return 0;
    }
    if (!isNetworkAddress(address))
        return KELVO_ERR_STREAM_ADDRESS;
    if (!makeStream_)
        makeStream_ = loadStreamModule();
    if (!makeStream_)
        return KELVO_ERR_STREAM_UNSUPPORTED;
    stream_ = address;
    return 0;
}

namespace {

int openCode(int deviceError) {
    switch (deviceError) {
    case kStreamUnreachable:
        return KELVO_ERR_STREAM_UNREACHABLE;
    case kStreamRefused:
        return KELVO_ERR_STREAM_REFUSED;
    case kStreamNotAudio:
    case kStreamEnded:
        return KELVO_ERR_STREAM_NOT_AUDIO;
    default:
        return KELVO_ERR_OPEN_DEVICE;
    }
}

// NAME.wav -> NAME, where the kept copy of a stream gets its own extension.
std::string stemOf(const char* path) {
    std::string s(path);
    const std::size_t dot = s.rfind('.');
    const std::size_t slash = s.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        s.erase(dot);
    return s;
}

} // namespace

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
        return KELVO_ERR_ALREADY_RUNNING;
    abandon_.store(false);
    // Formats no device can take are refused before anything is acquired.
    if ((channels != 1 && channels != 2) || sampleRate < 1000 || sampleRate > 384000)
        return KELVO_ERR_OPEN_DEVICE;
    if (writeFile != 0 && (fileName == nullptr || fileName[0] == '\0'))
        return KELVO_ERR_CREATE_FILE;

    state_.queue.clear();
    state_.returned = 0;
    state_.requeue = 0;
    StatusCounters& st = state_.status;
    st.deviceState = KELVO_DEVICE_IDLE;
    st.lastWriteError = 0;
    st.framesCaptured = st.framesFilled = st.bytesWritten = st.lastGapFrames = 0;
    st.framesSilent = st.silentRunFrames = st.sumOfSquares = st.samples = 0;
    st.gaps = st.parts = st.highestPeak = 0;
    st.timelineStartNs = 0;
    captureSource_ = nextSource_;
    state_.timeline = Timeline{};
    // The boot-time clock, unlike the steady one, goes on while the machine sleeps: a
    // recording that slept through part of a show has a gap there, not a shifted timeline.
    state_.clock = clock_ ? clock_ : EngineClock(bootTimeNs);
    state_.maxFillFrames = static_cast<std::uint64_t>(maxFillSeconds_ * sampleRate);
    if (stream_.empty() || !makeStream_) {
        active_ = makeDevice_;
    } else {
        const bool copy = keepCopy_ && writeFile != 0;
        active_ = [devices =
                       makeStream_(StreamSetup{stream_, copy ? stemOf(fileName) : std::string(),
                                               &abandon_})](const std::string&) {
            return devices ? devices() : std::unique_ptr<CaptureDevice>();
        };
        if (writeFile != 0)
            state_.cue.prepare(fileName);
    }
    {
        std::lock_guard lock(state_.reconnectMutex);
        state_.deviceLost = false;
        state_.quitReconnect = false;
    }
    try {
        state_.worker = std::thread(runCaptureWorker, std::ref(state_));
        reconnect_ = std::thread(&Engine::reconnectLoop, this);
    } catch (const std::system_error&) {
        endWorker();
        return KELVO_ERR_WORKER;
    }

    state_.format = CaptureFormat::fromChannels(channels, sampleRate);
    state_.widthSelector = static_cast<std::uint16_t>(channels);
    const std::uint32_t bytes = state_.format.avgBytesPerSec / 20; // 50 ms
    for (PoolEntry& e : state_.pool) {
        e.memory.reset(new (std::nothrow) std::uint8_t[bytes]);
        e.buffer = CaptureBuffer{e.memory.get(), bytes, 0, false, 0};
    }
    if (!state_.pool[0].memory || !state_.pool[1].memory) {
        releaseFailedStart(false, false);
        return KELVO_ERR_PREPARE_BUFFER;
    }

    try {
        state_.device = active_(captureSource_);
    } catch (...) {
        state_.device.reset();
    }
    const int openError = state_.device ? state_.device->open(state_.format, state_.queue) : ENODEV;
    // A server without the chosen source is not a failed start: the recording's time runs
    // (in silence) until the source appears, as when a device is lost.
    // So is a named source whose server is away (restarting, say): it is the server's alone.
    const bool sourceMissing =
        openError == kDeviceSourceMissing || (openError == ECONNREFUSED && !captureSource_.empty());
    if (openError != 0) {
        state_.device.reset();
        if (!sourceMissing) {
            releaseFailedStart(false, false);
            return abandon_.load() ? KELVO_ERR_START_CANCELLED : openCode(openError);
        }
    }
    for (PoolEntry& e : state_.pool) {
        if (state_.device && state_.device->prepare(e.buffer) != 0) {
            releaseFailedStart(true, false);
            return KELVO_ERR_PREPARE_BUFFER;
        }
    }
    for (PoolEntry& e : state_.pool) {
        if (state_.device && state_.device->addBuffer(e.buffer) != 0) {
            releaseFailedStart(true, true);
            return KELVO_ERR_QUEUE_BUFFER;
        }
    }
    if (writeFile != 0) {
        state_.paused = 0;
        if (!state_.file.create(fileName, state_.format, maxDataBytes_)) {
            st.lastWriteError = state_.file.lastError();
            releaseFailedStart(true, true);
            return KELVO_ERR_CREATE_FILE;
        }
        st.parts = 1;
    }
    state_.startedAt = state_.clock();
    if (sourceMissing) {
        // Both buffers are the engine's until a device takes them; the worker fills the time
        // from now and wakes the reconnect thread.
        state_.returned = 2;
        st.deviceState = KELVO_DEVICE_SOURCE_MISSING;
        state_.queue.post({Notification::Lost, nullptr});
        state_.running = 1;
        return 0;
    }
    st.deviceState = KELVO_DEVICE_CAPTURING;
    state_.requeue.store(1, std::memory_order_release);
    int startError;
    {
        // The reconnect thread may retire this device as soon as it runs: it must see the
        // device fully started.
        std::lock_guard lock(state_.deviceMutex);
        startError = state_.device->start();
    }
    if (startError != 0) {
        releaseFailedStart(true, true);
        st.deviceState = KELVO_DEVICE_IDLE;
        return KELVO_ERR_START_CAPTURE;
    }
    state_.running = 1;
    return 0;
}

void Engine::releaseFailedStart(bool deviceOpen, bool queued) {
    state_.requeue = 0;
    endReconnect();
    if (deviceOpen && state_.device) {
        if (queued)
            state_.device->reset();
        for (PoolEntry& e : state_.pool)
            state_.device->unprepare(e.buffer);
        state_.device->close();
    }
    endWorker();
    state_.device.reset();
    active_ = nullptr;
    state_.cue.close();
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

void Engine::endReconnect() {
    if (!reconnect_.joinable())
        return;
    {
        std::lock_guard lock(state_.reconnectMutex);
        state_.quitReconnect = true;
    }
    state_.reconnectWake.notify_all();
    reconnect_.join();
}

// The reconnect thread: idle until the worker reports the device lost, then retires it and
// opens the default device again every kReconnectInterval until one starts or the capture
// is stopped. The worker meanwhile fills the time with silence.
void Engine::reconnectLoop() {
    std::unique_lock lock(state_.reconnectMutex);
    for (;;) {
        state_.reconnectWake.wait(lock,
                                  [this] { return state_.quitReconnect || state_.deviceLost; });
        if (state_.quitReconnect)
            return;
        state_.deviceLost = false;
        lock.unlock();
        retireDevice();
        for (;;) {
            std::unique_ptr<CaptureDevice> device;
            try {
                device = active_(captureSource_);
            } catch (...) {
            }
            const int openError = device ? device->open(state_.format, state_.queue) : ENODEV;
            if (openError == 0 && installDevice(std::move(device)))
                break;
            // Only this thread changes the state while no device is installed.
            if (openError != 0)
                state_.status.deviceState.store(openError == kDeviceSourceMissing
                                                    ? KELVO_DEVICE_SOURCE_MISSING
                                                    : KELVO_DEVICE_RECONNECTING,
                                                std::memory_order_relaxed);
            lock.lock();
            if (state_.reconnectWake.wait_for(lock, kReconnectInterval,
                                              [this] { return state_.quitReconnect; }))
                return;
            lock.unlock();
        }
        lock.lock();
    }
}

void Engine::retireDevice() {
    std::lock_guard lock(state_.deviceMutex);
    state_.requeue.store(0, std::memory_order_release);
    if (!state_.device)
        return;
    // Hands back what the buffers hold: the audio up to the failure is kept.
    state_.device->reset();
    for (PoolEntry& e : state_.pool)
        state_.device->unprepare(e.buffer);
    state_.device->close();
    state_.device.reset();
}

// Gives the pool to a freshly opened device and starts it; false (device closed) when that
// fails or the capture is being stopped.
bool Engine::installDevice(std::unique_ptr<CaptureDevice> device) {
    // The retired device's buffers are back once the worker has written what they held.
    for (int i = 0; state_.returned.load(std::memory_order_acquire) < 2; ++i) {
        std::unique_lock lock(state_.reconnectMutex);
        if (state_.quitReconnect || i == 200) {
            lock.unlock();
            device->close();
            return false;
        }
        state_.reconnectWake.wait_for(lock, std::chrono::milliseconds(5));
    }
    std::lock_guard lock(state_.deviceMutex);
    int added = 0;
    bool ok = true;
    for (PoolEntry& e : state_.pool)
        ok = ok && device->prepare(e.buffer) == 0;
    if (ok) {
        state_.returned.store(0, std::memory_order_release);
        state_.requeue.store(1, std::memory_order_release);
        state_.device = std::move(device);
        for (PoolEntry& e : state_.pool) {
            if (state_.device->addBuffer(e.buffer) != 0)
                break;
            ++added;
        }
        ok = added == 2 && state_.device->start() == 0;
        if (!ok) {
            state_.requeue.store(0, std::memory_order_release);
            state_.device->reset(); // the buffers it took come back, and are counted
            state_.returned.fetch_add(2 - added, std::memory_order_release);
            device = std::move(state_.device);
        }
    }
    if (!ok) {
        for (PoolEntry& e : state_.pool)
            device->unprepare(e.buffer);
        device->close();
    }
    return ok;
}

bool Engine::waitForReturnedBuffers() {
    // Short steps rather than long sleeps: a stop blocks the window, and the buffers are
    // usually back within 100 ms. A device that has not handed back even one buffer by the
    // first limit is not delivering, and is not waited for any longer.
    const auto began = std::chrono::steady_clock::now();
    while (state_.returned.load(std::memory_order_acquire) < 2) {
        const auto waited = std::chrono::steady_clock::now() - began;
        if (waited >= drainLimit_ ||
            (waited >= firstBufferLimit_ && state_.returned.load(std::memory_order_acquire) == 0))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

namespace {

int releaseCode(int deviceError) {
    switch (deviceError) {
    case kDeviceInvalidHandle:
        return KELVO_ERR_RELEASE_INVALID_HANDLE;
    case kDeviceNoDriver:
        return KELVO_ERR_RELEASE_NO_DRIVER;
    case kDeviceNoMemory:
        return KELVO_ERR_RELEASE_NO_MEMORY;
    case kDeviceStillQueued:
        return KELVO_ERR_RELEASE_STILL_QUEUED;
    default:
        return KELVO_ERR_RELEASE_OTHER;
    }
}

} // namespace

int Engine::stop() {
    if (!running())
        return 0;
    state_.running = 0;
    // From here on only this thread touches the device.
    endReconnect();
    state_.requeue.store(0, std::memory_order_release);

    // Whatever fails, everything is released; the first failure is what the caller sees.
    int rc = 0;
    auto fail = [&rc](int code) {
        if (rc == 0)
            rc = code;
    };

    std::unique_ptr<CaptureDevice> device;
    {
        std::lock_guard lock(state_.deviceMutex);
        device = std::move(state_.device);
    }
    if (device) {
        // A stop right after the start waits for both buffers, so it keeps about 100 ms; later
        // the reset hands back what the device holds at once, which loses nothing, whereas
        // waiting would leave the device's newest audio with no buffer to come back in. A
        // device that is away is never waited for.
        const std::uint64_t bufferFrames =
            state_.pool[0].buffer.capacity / state_.format.blockAlign;
        if (state_.status.deviceState.load() == KELVO_DEVICE_CAPTURING &&
            state_.status.framesCaptured.load() < 2 * bufferFrames)
            waitForReturnedBuffers();
        if (device->reset() != 0)
            fail(KELVO_ERR_RESET_DEVICE);
        for (PoolEntry& e : state_.pool) {
            if (int err = device->unprepare(e.buffer); err != 0)
                fail(releaseCode(err));
        }
        if (device->close() != 0)
            fail(KELVO_ERR_CLOSE_DEVICE);
    }
    // The worker handles everything the device posted before it quits, so the file is
    // complete and no longer touched once it has been joined.
    endWorker();
    device.reset();
    active_ = nullptr; // completes a stream's kept copy
    state_.cue.close();
    int expected = KELVO_DEVICE_CAPTURING;
    state_.status.deviceState.compare_exchange_strong(expected, KELVO_DEVICE_IDLE);
    expected = KELVO_DEVICE_RECONNECTING;
    state_.status.deviceState.compare_exchange_strong(expected, KELVO_DEVICE_LOST);
    if (int fileRc = state_.file.finish(); fileRc != 0)
        fail(fileRc);
    for (PoolEntry& e : state_.pool)
        e = PoolEntry{};
    return rc;
}

bool Engine::status(KelvoStatus* out, std::size_t size) const {
    if (out == nullptr || size < offsetof(KelvoStatus, framesCaptured))
        return false;
    const StatusCounters& c = state_.status;
    KelvoStatus s{};
    s.deviceState = c.deviceState.load(std::memory_order_relaxed);
    s.lastWriteError = c.lastWriteError.load(std::memory_order_relaxed);
    s.framesCaptured = c.framesCaptured.load(std::memory_order_relaxed);
    s.framesFilled = c.framesFilled.load(std::memory_order_relaxed);
    s.bytesWritten = c.bytesWritten.load(std::memory_order_relaxed);
    s.gaps = c.gaps.load(std::memory_order_relaxed);
    s.parts = c.parts.load(std::memory_order_relaxed);
    s.lastGapFrames = c.lastGapFrames.load(std::memory_order_relaxed);
    s.framesSilent = c.framesSilent.load(std::memory_order_relaxed);
    s.silentRunFrames = c.silentRunFrames.load(std::memory_order_relaxed);
    s.sumOfSquares = c.sumOfSquares.load(std::memory_order_relaxed);
    s.samples = c.samples.load(std::memory_order_relaxed);
    s.highestPeak = c.highestPeak.load(std::memory_order_relaxed);
    s.timelineStartNs = c.timelineStartNs.load(std::memory_order_relaxed);
    std::memcpy(out, &s, std::min(size, sizeof s));
    return true;
}

int Engine::togglePause() {
    state_.paused.fetch_xor(1);
    return 0;
}

int Engine::setSource(const char* name) {
    if (name != nullptr && std::strlen(name) > KELVO_MAX_SOURCE_NAME)
        return KELVO_ERR_SOURCE_NAME;
    nextSource_ = name != nullptr ? name : "";
    return 0;
}

} // namespace kelvo::engine
