#include "engine/capture_alsa.h"

#include "engine/notification_queue.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kelvo::engine {
namespace {

constexpr unsigned kBufferMicros = 500'000;
constexpr unsigned kPeriodMicros = 50'000;
constexpr std::size_t kRingSeconds = 3; // rides out a 2 s worker stall

int configure(snd_pcm_t* pcm, const CaptureFormat& f, unsigned channels) {
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    int err = snd_pcm_hw_params_any(pcm, hw);
    if (err >= 0)
        err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (err >= 0)
        err = snd_pcm_hw_params_set_format(
            pcm, hw, f.bitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE);
    if (err >= 0)
        err = snd_pcm_hw_params_set_channels(pcm, hw, channels);
    if (err >= 0)
        err = snd_pcm_hw_params_set_rate(pcm, hw, f.sampleRate, 0);
    if (err < 0)
        return err;
    unsigned bufferTime = kBufferMicros;
    unsigned periodTime = kPeriodMicros;
    // Best effort: some devices cap these; the capture still works with what they allow.
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferTime, nullptr);
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodTime, nullptr);
    if ((err = snd_pcm_hw_params(pcm, hw)) < 0)
        return err;

    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_uframes_t period = f.sampleRate / 20;
    err = snd_pcm_sw_params_current(pcm, sw);
    if (err >= 0)
        err = snd_pcm_sw_params_set_avail_min(pcm, sw, period);
    // A read on a prepared stream starts it, which also restarts it after an overrun.
    if (err >= 0)
        err = snd_pcm_sw_params_set_start_threshold(pcm, sw, 1);
    if (err >= 0)
        err = snd_pcm_sw_params(pcm, sw);
    return err;
}

} // namespace

AlsaCaptureDevice::~AlsaCaptureDevice() {
    close();
}

int AlsaCaptureDevice::open(const CaptureFormat& format, NotificationQueue& target) {
    if (pcm_ != nullptr)
        return EBUSY;
    // Non-blocking open: a device held by another program answers at once instead of
    // making the caller's thread (the window) wait for it.
    int err = snd_pcm_open(&pcm_, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err < 0) {
        pcm_ = nullptr;
        return -err;
    }
    // Mono is mixed down from two channels where the device has two (see the header).
    downmix_ = format.channels == 1;
    if (downmix_ && configure(pcm_, format, 2) < 0)
        downmix_ = false;
    if (!downmix_ && (err = configure(pcm_, format, format.channels)) < 0) {
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
        return -err;
    }
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    int count = snd_pcm_poll_descriptors_count(pcm_);
    if (wakeFd_ < 0 || count <= 0) {
        close();
        return EIO;
    }
    fds_.assign(static_cast<std::size_t>(count) + 1, pollfd{});
    snd_pcm_poll_descriptors(pcm_, fds_.data(), static_cast<unsigned>(count));
    fds_.back() = pollfd{wakeFd_, POLLIN, 0};
    frameBytes_ = format.blockAlign;
    rate_ = format.sampleRate;
    ring_.allocate(static_cast<std::size_t>(format.sampleRate) * kRingSeconds,
                   downmix_ ? 2 : frameBytes_, format.sampleRate);
    scratch_.assign(static_cast<std::size_t>(format.sampleRate) / 10 * ring_.frameBytes(), 0);
    target_ = &target;
    {
        std::lock_guard lock(mutex_);
        accepting_ = true;
    }
    return 0;
}

int AlsaCaptureDevice::prepare(CaptureBuffer& buffer) {
    if (pcm_ == nullptr || buffer.data == nullptr || buffer.capacity < frameBytes_)
        return EINVAL;
    buffer.prepared = true;
    return 0;
}

int AlsaCaptureDevice::addBuffer(CaptureBuffer& buffer) {
    bool idle;
    {
        std::lock_guard lock(mutex_);
        if (!accepting_ || !buffer.prepared || queued_ == queue_.size())
            return EINVAL;
        buffer.bytesRecorded = 0;
        buffer.gapFrames = 0;
        buffer.capturedAtNs = 0;
        queue_[(head_ + queued_) % queue_.size()] = &buffer;
        // Only a thread that had no buffer needs waking, to fill this one from the ring
        // at once; otherwise the next audio wakes it anyway.
        idle = ++queued_ == 1;
    }
    if (idle)
        wake();
    return 0;
}

int AlsaCaptureDevice::start() {
    if (pcm_ == nullptr || thread_.joinable())
        return EINVAL;
    int err = snd_pcm_prepare(pcm_);
    if (err >= 0)
        err = snd_pcm_start(pcm_);
    if (err < 0)
        return -err;
    ring_.clear();
    quit_ = false;
    try {
        thread_ = std::thread(&AlsaCaptureDevice::run, this);
    } catch (...) {
        snd_pcm_drop(pcm_);
        return EAGAIN;
    }
    return 0;
}

void AlsaCaptureDevice::wake() {
    if (wakeFd_ >= 0) {
        std::uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
    }
}

CaptureBuffer* AlsaCaptureDevice::front() {
    std::lock_guard lock(mutex_);
    return queued_ > 0 ? queue_[head_] : nullptr;
}

bool AlsaCaptureDevice::isQueued(const CaptureBuffer& buffer) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < queued_; ++i)
        if (queue_[(head_ + i) % queue_.size()] == &buffer)
            return true;
    return false;
}

// Moves everything ALSA has into the ring. When the ring is full (the worker stalled for
// longer than it holds) the newest audio is dropped and becomes a gap the engine fills.
void AlsaCaptureDevice::readAvailable() {
    // One read for all the ring can take (two where it wraps): every call into a plugin
    // costs, so there is no separate question of how much is there.
    for (int part = 0; part < 2; ++part) {
        std::size_t frames = 0;
        std::uint8_t* space = ring_.writable(frames);
        if (frames == 0) {
            // The ring is full: read on, into the scratch buffer, and count what is dropped.
            // Not reading (or skipping ahead) would let the server drop audio uncounted.
            const auto room = static_cast<snd_pcm_uframes_t>(scratch_.size() / ring_.frameBytes());
            for (;;) {
                snd_pcm_sframes_t n = snd_pcm_readi(pcm_, scratch_.data(), room);
                if (n == -EAGAIN || n == 0)
                    return;
                if (n < 0) {
                    recoverFrom(static_cast<int>(n));
                    return;
                }
                ring_.drop(static_cast<std::uint64_t>(n));
                if (static_cast<snd_pcm_uframes_t>(n) < room)
                    return;
            }
        }
        snd_pcm_sframes_t n = snd_pcm_readi(pcm_, space, frames);
        if (n == -EAGAIN || n == 0)
            return;
        if (n < 0) {
            recoverFrom(static_cast<int>(n));
            return;
        }
        // What is still in the device was captured after these frames: the first of them
        // was captured that much and their own length before now.
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm_, &delay) < 0 || delay < 0)
            delay = 0;
        ring_.place(bootTimeNs() - static_cast<std::int64_t>(static_cast<__int128>(delay + n) *
                                                             1'000'000'000 / rate_));
        ring_.commit(static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < frames)
            return;
    }
}

// An overrun or a suspend is recovered from in place (the audio of the moment is lost and
// counted); anything else, or a failed recovery, means the device is gone.
void AlsaCaptureDevice::recoverFrom(int error) {
    if ((error == -EPIPE || error == -ESTRPIPE) && snd_pcm_recover(pcm_, error, 1) >= 0)
        return;
    lose();
}

void AlsaCaptureDevice::lose() {
    if (quit_.exchange(true))
        return;
    target_->post({Notification::Lost, nullptr});
}

// Copies from the ring into the front buffer; true when that buffer is ready to go back:
// full, or holding the audio up to a gap, which then leads the next buffer.
bool AlsaCaptureDevice::fillFront() {
    std::lock_guard lock(mutex_);
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

// Hands the front buffer, with what it holds, to the worker; false when none is queued.
bool AlsaCaptureDevice::returnFront() {
    CaptureBuffer* buffer;
    {
        std::lock_guard lock(mutex_);
        if (queued_ == 0)
            return false;
        buffer = queue_[head_];
        buffer->bytesRecorded = static_cast<std::uint32_t>(filled_);
        filled_ = 0;
        head_ = (head_ + 1) % queue_.size();
        --queued_;
    }
    target_->post({Notification::Data, buffer});
    return true;
}

void AlsaCaptureDevice::run() {
    while (!quit_.load(std::memory_order_relaxed)) {
        readAvailable();
        while (fillFront())
            returnFront();
        if (quit_.load(std::memory_order_relaxed))
            break;
        if (::poll(fds_.data(), fds_.size(), 200) <= 0)
            continue;
        unsigned short events = 0;
        int err = snd_pcm_poll_descriptors_revents(pcm_, fds_.data(),
                                                   static_cast<unsigned>(fds_.size() - 1), &events);
        if (err < 0 || (events & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            // The read that follows tells an overrun from a device that is gone.
            snd_pcm_state_t st = snd_pcm_state(pcm_);
            if (err < 0 || st == SND_PCM_STATE_DISCONNECTED ||
                (events & (POLLHUP | POLLNVAL)) != 0) {
                lose();
                break;
            }
        }
        if (fds_.back().revents & POLLIN) {
            std::uint64_t drained;
            (void)!::read(wakeFd_, &drained, sizeof drained);
        } else if (events == 0) {
            // The PulseAudio plugin leaves its descriptor readable while its stream has
            // nothing to give (a monitor that has not started delivering); back off
            // rather than spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

void AlsaCaptureDevice::stopThread() {
    if (!thread_.joinable())
        return;
    quit_ = true;
    wake();
    thread_.join();
}

int AlsaCaptureDevice::reset() {
    if (pcm_ == nullptr)
        return EINVAL;
    stopThread();
    // Hand back every queued buffer with what it, the ring and ALSA hold: a stop need not
    // wait for the buffers to fill to keep the last moments.
    readAvailable();
    snd_pcm_drop(pcm_);
    while (fillFront())
        returnFront();
    while (returnFront()) {
    }
    return 0;
}

int AlsaCaptureDevice::unprepare(CaptureBuffer& buffer) {
    if (pcm_ == nullptr)
        return kDeviceInvalidHandle;
    if (isQueued(buffer))
        return kDeviceStillQueued;
    buffer.prepared = false;
    return 0;
}

int AlsaCaptureDevice::close() {
    if (pcm_ == nullptr)
        return 0;
    {
        std::lock_guard lock(mutex_);
        accepting_ = false;
    }
    stopThread();
    int err = snd_pcm_close(pcm_);
    pcm_ = nullptr;
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    wakeFd_ = -1;
    {
        std::lock_guard lock(mutex_);
        queued_ = 0;
        filled_ = 0;
    }
    target_ = nullptr;
    return err < 0 ? -err : 0;
}

} // namespace kelvo::engine
