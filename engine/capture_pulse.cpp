#include "engine/capture_pulse.h"

#include "engine/capture_alsa.h"
#include "engine/notification_queue.h"

#include <pulse/pulseaudio.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kelvo::engine {
namespace {

// Two engine buffers a wake-up: the server hands over 100 ms, which fills both 50 ms
// buffers (the meters still get 50 ms peaks, two at a time) at half the wake-ups.
constexpr unsigned kFragmentMs = 100;
constexpr unsigned kBacklogMs = 3000; // what the server keeps for a frozen process
constexpr std::size_t kRingSeconds = 3;
constexpr pa_usec_t kAnswerTimeoutUs = 2'000'000;
// Read callbacks come every fragment; a pause this long means this process was frozen (or
// the source paused), and the stream's timing, last updated before it, is stale.
constexpr std::int64_t kStaleTimingNs = 500'000'000;
constexpr pa_usec_t kMostQueuedUs = (kBacklogMs + 500) * 1000;

bool contextGone(pa_context* c) {
    return !PA_CONTEXT_IS_GOOD(pa_context_get_state(c));
}

bool streamGone(pa_stream* s) {
    return !PA_STREAM_IS_GOOD(pa_stream_get_state(s));
}

} // namespace

PulseCaptureDevice::PulseCaptureDevice(std::string source) : source_(std::move(source)) {}

PulseCaptureDevice::~PulseCaptureDevice() {
    close();
}

bool PulseCaptureDevice::serverAnswers() {
    pa_mainloop* loop = pa_mainloop_new();
    if (loop == nullptr)
        return false;
    pa_context* c = pa_context_new(pa_mainloop_get_api(loop), "KelvoRecorder");
    bool ready = false;
    if (c != nullptr && pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const pa_usec_t deadline = pa_rtclock_now() + kAnswerTimeoutUs;
        while (!contextGone(c) && pa_rtclock_now() < deadline) {
            if (pa_context_get_state(c) == PA_CONTEXT_READY) {
                ready = true;
                break;
            }
            if (pa_mainloop_prepare(loop, 20'000) < 0 || pa_mainloop_poll(loop) < 0 ||
                pa_mainloop_dispatch(loop) < 0)
                break;
        }
        pa_context_disconnect(c);
    }
    if (c != nullptr)
        pa_context_unref(c);
    pa_mainloop_free(loop);
    return ready;
}

void PulseCaptureDevice::onContextState(pa_context* c, void* self) {
    auto* d = static_cast<PulseCaptureDevice*>(self);
    if (contextGone(c))
        d->lose();
    pa_threaded_mainloop_signal(d->loop_, 0);
}

void PulseCaptureDevice::onStreamState(pa_stream* s, void* self) {
    auto* d = static_cast<PulseCaptureDevice*>(self);
    // A killed stream (its source removed, DONT_MOVE) fails; so does one on a dying server.
    if (streamGone(s))
        d->lose();
    pa_threaded_mainloop_signal(d->loop_, 0);
}

void PulseCaptureDevice::onReadable(pa_stream*, std::size_t, void* self) {
    static_cast<PulseCaptureDevice*>(self)->readAvailable();
}

// A queue longer than any backlog the server keeps is PipeWire's after a freeze: it hands over
// what it kept at the pace of capture only, dropping the live audio meanwhile, and tells the
// drop later. Flushing it loses the freeze's first seconds instead of the seconds after it,
// and the recording is live again at once.
void PulseCaptureDevice::onTimingUpdated(pa_stream*, int, void* self) {
    auto* d = static_cast<PulseCaptureDevice*>(self);
    pa_operation_unref(d->timingUpdate_);
    d->timingUpdate_ = nullptr;
    pa_usec_t latency = 0;
    int negative = 0;
    const bool got = pa_stream_get_latency(d->stream_, &latency, &negative) == 0;
    if (got && !negative && latency > kMostQueuedUs && !d->flushed_) {
        d->flushed_ = true;
        if (pa_operation* op = pa_stream_flush(d->stream_, nullptr, nullptr))
            pa_operation_unref(op);
        d->timingUpdate_ = pa_stream_update_timing_info(d->stream_, onTimingUpdated, d);
        if (d->timingUpdate_ != nullptr)
            return;
    }
    d->flushed_ = false;
    d->readAvailable();
}

// After a pause in the read callbacks (this process frozen), the stream's timing is
// extrapolated from before it and would place what arrives seconds off. What waits is read
// once the server has told its timing again, one round trip later.
bool PulseCaptureDevice::timingIsStale(bool force) {
    const std::int64_t now = bootTimeNs();
    const bool paused = lastReadNs_ != 0 && now - lastReadNs_ > kStaleTimingNs;
    lastReadNs_ = now;
    if (force) {
        return false;
    }
    if (paused && timingUpdate_ == nullptr) {
        timingUpdate_ = pa_stream_update_timing_info(stream_, onTimingUpdated, this);
    }
    return timingUpdate_ != nullptr;
}

// Waits, with the lock held, until ready() or the server stops answering in time.
template <typename Ready> bool PulseCaptureDevice::waitUntil(Ready ready) {
    timedOut_ = false;
    pa_time_event* timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + kAnswerTimeoutUs,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
            auto* d = static_cast<PulseCaptureDevice*>(self);
            d->timedOut_ = true;
            pa_threaded_mainloop_signal(d->loop_, 0);
        },
        this);
    while (!ready() && !timedOut_ && !contextGone(context_) &&
           (stream_ == nullptr || !streamGone(stream_)))
        pa_threaded_mainloop_wait(loop_);
    if (timer != nullptr)
        pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    return ready();
}

int PulseCaptureDevice::open(const CaptureFormat& format, NotificationQueue& target) {
    if (loop_ != nullptr)
        return EBUSY;
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr)
        return ENOMEM;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "KelvoRecorder");
    if (context_ == nullptr) {
        teardown();
        return ENOMEM;
    }
    pa_context_set_state_callback(context_, onContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        teardown();
        return ECONNREFUSED;
    }
    pa_threaded_mainloop_lock(loop_);
    if (!waitUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; })) {
        pa_threaded_mainloop_unlock(loop_);
        teardown();
        return ECONNREFUSED;
    }

    // Mono is mixed down from two channels (see the header).
    downmix_ = format.channels == 1;
    pa_sample_spec spec{format.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE,
                        format.sampleRate,
                        static_cast<std::uint8_t>(downmix_ ? 2 : format.channels)};
    frameBytes_ = format.blockAlign;
    rate_ = format.sampleRate;
    const std::size_t streamFrameBytes = pa_frame_size(&spec);
    stream_ = pa_stream_new(context_, "KelvoRecorder", &spec, nullptr);
    if (stream_ == nullptr) {
        pa_threaded_mainloop_unlock(loop_);
        teardown();
        return EINVAL;
    }
    pa_stream_set_state_callback(stream_, onStreamState, this);
    pa_stream_set_read_callback(stream_, onReadable, this);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kBacklogMs * 1000, &spec));
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentMs * 1000, &spec));
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
        PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_START_CORKED);
    const char* device = source_.empty() ? nullptr : source_.c_str();
    int rc = 0;
    if (pa_stream_connect_record(stream_, device, &attr, flags) < 0 ||
        !waitUntil([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; })) {
        rc = pa_context_errno(context_) == PA_ERR_NOENTITY ? kDeviceSourceMissing : EIO;
    }
    if (rc == 0) {
        ring_.allocate(static_cast<std::size_t>(format.sampleRate) * kRingSeconds, streamFrameBytes,
                       format.sampleRate);
        target_ = &target;
        accepting_ = true;
        lost_ = false;
        lastReadNs_ = 0;
    }
    pa_threaded_mainloop_unlock(loop_);
    if (rc != 0) {
        teardown();
        return rc;
    }
    return 0;
}

int PulseCaptureDevice::prepare(CaptureBuffer& buffer) {
    if (loop_ == nullptr || buffer.data == nullptr || buffer.capacity < frameBytes_)
        return EINVAL;
    buffer.prepared = true;
    return 0;
}

int PulseCaptureDevice::addBuffer(CaptureBuffer& buffer) {
    if (loop_ == nullptr || !buffer.prepared || !accepting_.load())
        return EINVAL;
    buffer.bytesRecorded = 0;
    buffer.gapFrames = 0;
    buffer.capturedAtNs = 0;
    for (auto& slot : givenBack_) {
        CaptureBuffer* empty = nullptr;
        if (!slot.compare_exchange_strong(empty, &buffer))
            continue;
        // Checked after the buffer is in the box, as the device thread checks the box after it
        // sets the flag: one of the two always sees the other. The buffer is the device's from
        // here on (it may already be filled and posted again): what the ring kept while no
        // buffer was queued goes out at once.
        if (ringWaiting_.load()) {
            pa_threaded_mainloop_lock(loop_);
            returnFilled();
            pa_threaded_mainloop_unlock(loop_);
        }
        return 0;
    }
    // A full box: never with the engine's two buffers.
    pa_threaded_mainloop_lock(loop_);
    takeGivenBack();
    const bool ok = accepting_.load() && queued_ < queue_.size() && !isQueued(buffer);
    if (ok) {
        queue_[(head_ + queued_++) % queue_.size()] = &buffer;
        returnFilled();
    }
    pa_threaded_mainloop_unlock(loop_);
    return ok ? 0 : EINVAL;
}

int PulseCaptureDevice::start() {
    if (loop_ == nullptr || stream_ == nullptr)
        return EINVAL;
    pa_threaded_mainloop_lock(loop_);
    int rc = 0;
    if (lost_) {
        rc = EIO;
    } else if (pa_operation* op = pa_stream_cork(stream_, 0, nullptr, nullptr)) {
        pa_operation_unref(op);
    } else {
        rc = EIO;
    }
    pa_threaded_mainloop_unlock(loop_);
    return rc;
}

// Moves what the stream holds into the ring, each stretch placed by the server's timing.
void PulseCaptureDevice::readAvailable(bool force) {
    if (stream_ == nullptr || lost_ || timingIsStale(force))
        return;
    while (stream_ != nullptr && !lost_ && pa_stream_readable_size(stream_) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0) {
            lose();
            return;
        }
        if (bytes == 0)
            return;
        const std::size_t frames = bytes / ring_.frameBytes();
        // The latency counts what waits in the stream, this stretch included: its first
        // frame was captured that long ago.
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream_, &latency, &negative) == 0)
            ring_.place(bootTimeNs() -
                        (negative ? -1 : 1) * static_cast<std::int64_t>(latency) * 1000);
        if (data == nullptr) {
            ring_.drop(frames); // a hole in the stream: the server lost that much
        } else {
            const auto* from = static_cast<const std::uint8_t*>(data);
            std::size_t left = frames;
            while (left > 0) {
                std::size_t room = 0;
                std::uint8_t* space = ring_.writable(room);
                if (room == 0) {
                    ring_.drop(left); // the worker stalled longer than the ring holds
                    break;
                }
                const std::size_t n = std::min(room, left);
                std::memcpy(space, from, n * ring_.frameBytes());
                ring_.commit(n);
                from += n * ring_.frameBytes();
                left -= n;
            }
        }
        pa_stream_drop(stream_);
    }
    returnFilled();
}

void PulseCaptureDevice::lose() {
    if (lost_ || target_ == nullptr)
        return;
    lost_ = true;
    target_->post({Notification::Lost, nullptr});
}

bool PulseCaptureDevice::fillFront() {
    if (queued_ == 0)
        return false;
    CaptureBuffer& buffer = *queue_[head_];
    const std::size_t capacity = buffer.capacity / frameBytes_;
    std::size_t frames = filled_ / frameBytes_;
    if (frames == 0 && buffer.gapFrames == 0) {
        buffer.gapFrames = ring_.takeGap();
        buffer.capturedAtNs = ring_.readTimeNs();
    }
    frames += ring_.take(buffer.data + filled_, capacity - frames, downmix_);
    filled_ = frames * frameBytes_;
    return frames >= capacity || (frames > 0 && ring_.atGap());
}

CaptureBuffer* PulseCaptureDevice::takeFront() {
    CaptureBuffer* buffer = queue_[head_];
    buffer->bytesRecorded = static_cast<std::uint32_t>(filled_);
    filled_ = 0;
    head_ = (head_ + 1) % queue_.size();
    --queued_;
    return buffer;
}

void PulseCaptureDevice::takeGivenBack() {
    for (auto& slot : givenBack_) {
        if (queued_ == queue_.size())
            return;
        if (CaptureBuffer* buffer = slot.exchange(nullptr))
            queue_[(head_ + queued_++) % queue_.size()] = buffer;
    }
}

// Both buffers of a fragment go to the worker with one wake-up.
void PulseCaptureDevice::returnFilled() {
    std::array<Notification, 2 * std::tuple_size_v<decltype(queue_)>> ready{};
    std::size_t count = 0;
    takeGivenBack();
    while (fillFront())
        ready[count++] = {Notification::Data, takeFront()};
    const bool waiting = queued_ == 0 && (ring_.frames() > 0 || ring_.hasGap());
    ringWaiting_.store(waiting);
    if (waiting) {
        // A buffer the worker gave back meanwhile, before it could see the flag.
        takeGivenBack();
        while (fillFront())
            ready[count++] = {Notification::Data, takeFront()};
    }
    if (count > 0 && target_ != nullptr)
        target_->post(ready.data(), count);
}

bool PulseCaptureDevice::isQueued(const CaptureBuffer& buffer) const {
    for (std::size_t i = 0; i < queued_; ++i)
        if (queue_[(head_ + i) % queue_.size()] == &buffer)
            return true;
    return false;
}

int PulseCaptureDevice::reset() {
    if (loop_ == nullptr)
        return EINVAL;
    pa_threaded_mainloop_lock(loop_);
    // Hand back every queued buffer with what it, the ring and the stream hold: a stop need
    // not wait for the buffers to fill to keep the last moments, nor for fresh timing.
    readAvailable(true);
    takeGivenBack();
    std::array<Notification, std::tuple_size_v<decltype(queue_)>> last{};
    std::size_t count = 0;
    while (queued_ > 0) {
        fillFront();
        last[count++] = {Notification::Data, takeFront()};
    }
    if (count > 0)
        target_->post(last.data(), count);
    if (stream_ != nullptr && !streamGone(stream_))
        if (pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr))
            pa_operation_unref(op);
    pa_threaded_mainloop_unlock(loop_);
    return 0;
}

int PulseCaptureDevice::unprepare(CaptureBuffer& buffer) {
    if (loop_ == nullptr)
        return kDeviceInvalidHandle;
    pa_threaded_mainloop_lock(loop_);
    takeGivenBack();
    const bool queued = isQueued(buffer);
    pa_threaded_mainloop_unlock(loop_);
    if (queued)
        return kDeviceStillQueued;
    buffer.prepared = false;
    return 0;
}

void PulseCaptureDevice::teardown() {
    if (loop_ == nullptr)
        return;
    pa_threaded_mainloop_stop(loop_);
    if (timingUpdate_ != nullptr) {
        pa_operation_cancel(timingUpdate_);
        pa_operation_unref(timingUpdate_);
        timingUpdate_ = nullptr;
    }
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

int PulseCaptureDevice::close() {
    if (loop_ == nullptr)
        return 0;
    pa_threaded_mainloop_lock(loop_);
    accepting_ = false;
    queued_ = 0;
    filled_ = 0;
    for (auto& slot : givenBack_)
        slot = nullptr;
    target_ = nullptr;
    pa_threaded_mainloop_unlock(loop_);
    teardown();
    return 0;
}

std::unique_ptr<CaptureDevice> makeSoundDevice(const std::string& source, bool (*serverAnswers)()) {
    if (!source.empty() || serverAnswers())
        return std::make_unique<PulseCaptureDevice>(source);
    return std::make_unique<AlsaCaptureDevice>();
}

} // namespace kelvo::engine
