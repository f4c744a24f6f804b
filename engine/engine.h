// The engine's start and stop sequences over its process-wide state. The six exports are
// thin wrappers around the one instance; tests drive an instance of their own with a
// device of their choosing.
//
// Threading: every member is called from one thread at a time (the caller's); the engine
// adds the capture worker and the reconnect thread (and the device adds its own) while a
// capture runs. status(), the peaks and cancelStart() may be called from any thread.
#pragma once

#include "engine/engine_state.h"
#include "engine/stream_module.h"

#include "kelvo/kelvo.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kelvo::engine {

// Makes a device for the named source ("" for the default one); called by the start and by
// the reconnect thread.
using DeviceFactory = std::function<std::unique_ptr<CaptureDevice>(const std::string& source)>;

class Engine {
public:
    // makeStream: a test's; by default the stream module's, loaded with the first stream.
    explicit Engine(DeviceFactory makeDevice, StreamDeviceFactory makeStream = {});
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    int initialize();
    int start(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
              const char* fileName);
    int stop();
    int togglePause();
    // The source the following starts record from; "" for the default. Never while running
    // changes the running capture.
    int setSource(const char* name);
    // The address the next starts capture instead of the sound source; null or empty: the
    // sound source again. 0, or KELVO_ERR_STREAM_ADDRESS (nothing changed).
    int setStream(const char* address);
    // Makes a start under way give up its stream's connection: it returns
    // KELVO_ERR_START_CANCELLED. A start that begins later connects as usual.
    void cancelStart() { abandon_.store(true); }
    // Whether a stream recording also keeps the broadcast's own packets beside the WAV.
    void keepStreamCopy(bool keep) { keepCopy_ = keep; }
    int peakLeft() const { return state_.peakLeft.load(std::memory_order_relaxed); }
    int peakRight() const { return state_.peakRight.load(std::memory_order_relaxed); }

    bool running() const { return state_.running.load() != 0; }
    bool paused() const { return state_.paused.load() != 0; }
    std::uint32_t dataBytes() const { return state_.file.dataBytes(); }
    // The first `size` bytes of the status; false for a null pointer or a size too small.
    bool status(KelvoStatus* out, std::size_t size) const;

    // How long a stop waits for the device to return its buffers before it gives up on
    // them (a removed device, a driver that stopped delivering).
    void setDrainLimit(std::chrono::milliseconds limit) { drainLimit_ = limit; }
    // How long a stop waits for the first of them while none has come back yet.
    void setFirstBufferLimit(std::chrono::milliseconds limit) { firstBufferLimit_ = limit; }
    // Lowers the size at which a recording continues in a new file (tests only).
    void setMaxDataBytes(std::uint64_t bytes) { maxDataBytes_ = bytes; }
    // The worker sleeps once for this long before its next buffer (tests only).
    void stallWorkerOnce(int milliseconds) { state_.stallMs.store(milliseconds); }
    // The clock the timeline follows (tests only; the default is CLOCK_BOOTTIME).
    void setClock(EngineClock clock) { clock_ = std::move(clock); }
    // Lowers the most silence one gap may write (tests only).
    void setMaxFillSeconds(double seconds) { maxFillSeconds_ = seconds; }

    // How often a lost device is tried again.
    static constexpr std::chrono::milliseconds kReconnectInterval{250};

private:
    void releaseFailedStart(bool deviceOpen, bool queued);
    void reconnectLoop();
    void retireDevice();
    bool installDevice(std::unique_ptr<CaptureDevice> device);
    void endReconnect();
    void endWorker();
    bool waitForReturnedBuffers();

    EngineState state_;
    DeviceFactory makeDevice_;
    // A buffer holds 50 ms: a stop right after the start waits for both (about 100 ms of
    // audio) while the device delivers, within the 150 ms a stop may take; then it takes
    // what the device holds with reset.
    std::chrono::milliseconds drainLimit_{115};
    std::chrono::milliseconds firstBufferLimit_{70};
    std::string nextSource_;    // for the following starts
    std::string captureSource_; // of the running capture; read by the reconnect thread
    StreamDeviceFactory makeStream_;
    std::string stream_;
    bool keepCopy_ = false;
    std::atomic<bool> abandon_{false}; // cancelStart() during this start
    // The devices of the running capture: makeDevice_, or one stream's. Set before the
    // capture's threads start, dropped after they end (which completes a kept copy).
    DeviceFactory active_;
    std::uint64_t maxDataBytes_ = WavFile::kMaxDataBytes;
    double maxFillSeconds_ = WavFile::kMaxFillSeconds;
    EngineClock clock_;
    std::thread reconnect_;
};

} // namespace kelvo::engine
