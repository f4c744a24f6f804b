// Capture from a sound server over the PulseAudio protocol (PulseAudio itself, or PipeWire
// through pipewire-pulse), from one source chosen by its server name, or the default one.
//
// The stream is connected with PA_STREAM_DONT_MOVE: the server can never move a recording to
// another source behind our back. The source going away ends the stream; that is a device
// loss like the server's, and the engine opens a new device for the same source. A server
// that answers but has no source of the name fails open with kDeviceSourceMissing.
//
// libpulse's threaded mainloop is the device thread. Its read callback stamps what arrives
// with the server's own timing (the stream's latency: how long ago the first frame waiting
// was captured; after a pause in the callbacks, once the server has told it afresh), keeps it in a
// ring of three seconds for a worker that stalls, and fills the queued buffers from it. The server
// keeps up to three seconds more for a whole process that is frozen; what it drops beyond shows as
// a jump in its timing, which the ring turns into a gap. 8-bit mono is captured as two channels and
// mixed down to their mean, as with ALSA.
//
// Threading: every member but the callbacks runs on the engine's threads (open, start,
// reset, unprepare and close one at a time; addBuffer also from the worker) and takes the
// mainloop's lock, which also guards the ring and the queue of buffers. The one exception is
// the worker giving a buffer back while the ring has nothing waiting for it: that goes
// through a box of atomics the device thread empties before it fills, because the lock is
// held through the whole of the mainloop's dispatch, and waiting for it there would cost the
// worker two more wake-ups a fragment.
#pragma once

#include "engine/capture_device.h"
#include "engine/capture_ring.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct pa_context;
struct pa_operation;
struct pa_stream;
struct pa_threaded_mainloop;

namespace kelvo::engine {

class PulseCaptureDevice final : public CaptureDevice {
public:
    // source: the server's name for it; "" for the server's default source.
    explicit PulseCaptureDevice(std::string source);
    ~PulseCaptureDevice() override;
    PulseCaptureDevice(const PulseCaptureDevice&) = delete;
    PulseCaptureDevice& operator=(const PulseCaptureDevice&) = delete;

    // A sound server answers over the PulseAudio protocol (asked once, briefly).
    static bool serverAnswers();

    int open(const CaptureFormat& format, NotificationQueue& target) override;
    int prepare(CaptureBuffer& buffer) override;
    int addBuffer(CaptureBuffer& buffer) override;
    int start() override;
    int reset() override;
    int unprepare(CaptureBuffer& buffer) override;
    int close() override;

private:
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onReadable(pa_stream* stream, std::size_t bytes, void* self);
    static void onTimingUpdated(pa_stream* stream, int success, void* self);
    template <typename Ready> bool waitUntil(Ready ready);
    bool timingIsStale(bool force);
    void readAvailable(bool force = false);
    void lose();
    bool fillFront();
    CaptureBuffer* takeFront();
    void takeGivenBack();
    void returnFilled();
    bool isQueued(const CaptureBuffer& buffer) const;
    void teardown();

    std::string source_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    NotificationQueue* target_ = nullptr;
    std::size_t frameBytes_ = 0; // as the engine receives them
    std::uint32_t rate_ = 0;
    bool downmix_ = false; // the stream delivers two 8-bit channels for one
    bool timedOut_ = false;

    // Guarded by the mainloop's lock.
    CaptureRing ring_;
    std::int64_t lastReadNs_ = 0;          // the last read callback, on CLOCK_BOOTTIME
    pa_operation* timingUpdate_ = nullptr; // asked after a pause; reading waits for it
    bool flushed_ = false;                 // the queue was flushed since that pause
    std::atomic<bool> accepting_{false};   // written under the lock
    bool lost_ = false;
    std::array<CaptureBuffer*, 4> queue_{};
    // Given back without the lock; taken into the queue under it.
    std::array<std::atomic<CaptureBuffer*>, 4> givenBack_{};
    // The ring holds audio that no queued buffer took: a buffer given back now is filled at once.
    std::atomic<bool> ringWaiting_{false};
    std::size_t head_ = 0;
    std::size_t queued_ = 0;
    std::size_t filled_ = 0; // bytes already in the front buffer
};

// The device for `source`: the sound server's where one answers, ALSA's default device on a
// machine without one. A named source is the server's: while the server is away its device
// fails to open and the engine waits for the server, rather than recording the card's own
// input in its place.
std::unique_ptr<CaptureDevice>
makeSoundDevice(const std::string& source,
                bool (*serverAnswers)() = &PulseCaptureDevice::serverAnswers);

} // namespace kelvo::engine
