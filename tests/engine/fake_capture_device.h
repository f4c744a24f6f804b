// A capture device for tests. Every 50 ms its one thread produces the next 50 ms of a
// running frame counter (8-bit: its low byte; 16-bit: its low 16 bits on both channels)
// into the engine's own capture ring and fills the front queued buffer from it, so a test
// can prove the file holds every frame in order, and where a frame landed in time. The
// counter runs on while the device is away or the ring is full, as a live source would.
// Buffers carry the moment their first frame was produced, on the control's clock (the one
// the test gives the engine), unless the control says the device has no timing.
#pragma once

#include "engine/capture_device.h"
#include "engine/capture_ring.h"
#include "engine/notification_queue.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kelvo::engine::testing {

enum class Step { None, Open, Prepare, Queue, Start };

struct FakeDeviceControl {
    std::atomic<Step> failing{Step::None}; // a failing Open is a device held elsewhere
    std::atomic<int> unprepareError{0};
    std::atomic<int> emptyEvery{0};   // every n-th buffer comes back with no bytes
    std::atomic<int> stopAfter{-1};   // after n buffers, no buffer comes back again
    std::atomic<int> lostAfter{-1};   // after n buffers, reading fails: the device is lost
    std::atomic<int> failOpens{0};    // so many opens fail (the server is still away)
    std::atomic<int> missingOpens{0}; // so many opens find the server but not the source
    std::atomic<int> freezeMs{0};     // the device thread stops once this long, then catches up
    std::atomic<int> level{-1};       // a constant sample in place of the counter
    std::atomic<int> ringMillis{3000};
    std::atomic<int> opens{0}; // successful ones
    std::atomic<int> openAttempts{0};
    std::atomic<int> delivered{0};
    std::atomic<bool> timed{true};
    std::function<std::int64_t()> clock = bootTimeNs; // set before the first open

    // Where the counter stood when the last device stopped producing, and when.
    std::atomic<std::uint64_t> frame{0};
    std::atomic<std::int64_t> frameTimeNs{0};
};

inline std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class FakeCaptureDevice final : public CaptureDevice {
public:
    explicit FakeCaptureDevice(std::shared_ptr<FakeDeviceControl> c) : c_(std::move(c)) {}
    ~FakeCaptureDevice() override { stopThread(); }

    int open(const CaptureFormat& format, NotificationQueue& target) override {
        ++c_->openAttempts;
        if (c_->failing == Step::Open)
            return EBUSY;
        if (c_->failOpens > 0) {
            --c_->failOpens;
            return ENODEV;
        }
        if (c_->missingOpens > 0) {
            --c_->missingOpens;
            return kDeviceSourceMissing;
        }
        ++c_->opens;
        align_ = format.blockAlign;
        rate_ = format.sampleRate;
        ring_.allocate(static_cast<std::size_t>(rate_) * c_->ringMillis / 1000, align_,
                       c_->timed ? rate_ : 0);
        target_ = &target;
        return 0;
    }
    int prepare(CaptureBuffer&) override { return c_->failing == Step::Prepare ? EINVAL : 0; }
    int addBuffer(CaptureBuffer& b) override {
        std::lock_guard lock(mutex_);
        if (c_->failing == Step::Queue)
            return EINVAL;
        b.gapFrames = 0;
        queued_.push_back(&b);
        return 0;
    }
    int start() override {
        if (c_->failing == Step::Start)
            return EIO;
        frame_ = c_->frame;
        if (std::int64_t since = c_->frameTimeNs; since != 0)
            frame_ += static_cast<std::uint64_t>((steadyNs() - since) * rate_ / 1'000'000'000);
        began_ = std::chrono::steady_clock::now();
        made_ = 0;
        started_ = true;
        thread_ = std::thread([this] { run(); });
        return 0;
    }
    // Hands back every queued buffer with what was produced up to now, as a device does.
    int reset() override {
        stopThread();
        if (started_ && !lost_) // a lost device has nothing more to give
            produceDue();
        std::lock_guard lock(mutex_);
        for (CaptureBuffer* b : queued_) {
            b->bytesRecorded = 0;
            if (!lost_) {
                b->gapFrames = ring_.takeGap();
                b->capturedAtNs = ring_.readTimeNs();
                b->bytesRecorded =
                    static_cast<std::uint32_t>(ring_.take(b->data, b->capacity / align_, false)) *
                    align_;
            }
            target_->post({Notification::Data, b});
        }
        queued_.clear();
        started_ = false;
        return 0;
    }
    int unprepare(CaptureBuffer&) override { return c_->unprepareError; }
    int close() override {
        reset();
        return 0;
    }

private:
    void stopThread() {
        quit_ = true;
        if (thread_.joinable()) // each device is started at most once
            thread_.join();
    }

    void produce(std::size_t frames) {
        // The frames were produced over the last period.
        ring_.place(c_->clock() - static_cast<std::int64_t>(frames) * 1'000'000'000 / rate_);
        while (frames > 0) {
            std::size_t room = 0;
            std::uint8_t* at = ring_.writable(room);
            if (room == 0) {
                ring_.drop(frames);
                frame_ += frames;
                break;
            }
            const std::size_t n = std::min(room, frames);
            const int level = c_->level;
            for (std::size_t i = 0; i < n; ++i, ++frame_) {
                const auto v = static_cast<std::uint16_t>(level < 0 ? frame_ : level);
                const std::uint16_t sample[2] = {v, v};
                std::memcpy(at + i * align_, sample, align_); // mono takes the low byte
            }
            ring_.commit(n);
            frames -= n;
        }
        c_->frame = frame_;
        c_->frameTimeNs = steadyNs();
    }

    // What a live source has produced by now, whenever this thread gets to run.
    void produceDue() {
        const auto due = static_cast<std::uint64_t>(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count() *
            rate_);
        produce(due - made_);
        made_ = due;
    }

    void run() {
        for (auto next = began_; !quit_;) {
            std::this_thread::sleep_until(next += std::chrono::milliseconds(50));
            if (int freeze = c_->freezeMs.exchange(0); freeze > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(freeze));
            produceDue();
            if (c_->delivered == c_->lostAfter) {
                c_->lostAfter = -1;
                lost_ = true;
                target_->post({Notification::Lost, nullptr});
                return;
            }
            // Everything the ring holds goes out at once, as far as buffers are queued.
            while (ring_.frames() > 0 && deliver()) {
            }
        }
    }

    bool deliver() {
        std::unique_lock lock(mutex_);
        if (queued_.empty() || c_->delivered == c_->stopAfter)
            return false;
        CaptureBuffer& b = *queued_.front();
        // Whole buffers only, as a device hands them back (but not past a gap).
        if (ring_.frames() < b.capacity / align_ && !ring_.hasGap())
            return false;
        queued_.pop_front();
        lock.unlock();
        const int n = ++c_->delivered;
        b.bytesRecorded = 0;
        if (c_->emptyEvery == 0 || n % c_->emptyEvery != 0) {
            b.gapFrames = ring_.takeGap();
            b.capturedAtNs = ring_.readTimeNs();
            b.bytesRecorded =
                static_cast<std::uint32_t>(ring_.take(b.data, b.capacity / align_, false)) * align_;
        }
        target_->post({Notification::Data, &b});
        return true;
    }

    std::shared_ptr<FakeDeviceControl> c_;
    std::uint32_t align_ = 1;
    std::uint32_t rate_ = 8000;
    NotificationQueue* target_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::deque<CaptureBuffer*> queued_;
    std::atomic<bool> quit_{false};
    CaptureRing ring_; // the thread's alone, and reset()'s once it has ended
    std::uint64_t frame_ = 0;
    std::chrono::steady_clock::time_point began_;
    std::uint64_t made_ = 0;
    bool started_ = false;
    bool lost_ = false; // set by the thread before it ends
};

} // namespace kelvo::engine::testing
