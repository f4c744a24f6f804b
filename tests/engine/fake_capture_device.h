// A capture device for tests. Every 50 ms its one thread fills the next queued buffer with a
// running frame counter (8-bit: its low byte; 16-bit: its low 16 bits on both channels), so a
// test can prove the file holds every frame in order.
#pragma once

#include "engine/capture_device.h"
#include "engine/notification_queue.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace kelvo::engine::testing {

enum class Step { None, Open, Prepare, Queue, Start };

struct FakeDeviceControl {
    std::atomic<Step> failing{Step::None}; // a failing Open is a device held elsewhere
    std::atomic<int> unprepareError{0};
    std::atomic<int> emptyEvery{0}; // every n-th buffer comes back with no bytes
    std::atomic<int> stopAfter{-1}; // after n buffers, no buffer comes back again
    std::atomic<int> opens{0};
    std::atomic<int> delivered{0};
};

class FakeCaptureDevice final : public CaptureDevice {
public:
    explicit FakeCaptureDevice(std::shared_ptr<FakeDeviceControl> c) : c_(std::move(c)) {}

    int open(const CaptureFormat& format, NotificationQueue& target) override {
        if (c_->failing == Step::Open)
            return EBUSY;
        ++c_->opens;
        align_ = format.blockAlign;
        target_ = &target;
        target.post({Notification::Open, nullptr});
        return 0;
    }
    int prepare(CaptureBuffer&) override { return c_->failing == Step::Prepare ? EINVAL : 0; }
    int addBuffer(CaptureBuffer& b) override {
        std::lock_guard lock(mutex_);
        if (c_->failing == Step::Queue)
            return EINVAL;
        queued_.push_back(&b);
        return 0;
    }
    int start() override {
        if (c_->failing == Step::Start)
            return EIO;
        thread_ = std::thread([this] { run(); });
        return 0;
    }
    int reset() override {
        quit_ = true;
        if (thread_.joinable()) // each device is started at most once
            thread_.join();
        std::lock_guard lock(mutex_);
        for (CaptureBuffer* b : queued_) {
            b->bytesRecorded = 0;
            target_->post({Notification::Data, b});
        }
        queued_.clear();
        return 0;
    }
    int unprepare(CaptureBuffer&) override { return c_->unprepareError; }
    int close() override {
        reset();
        target_->post({Notification::Close, nullptr});
        return 0;
    }

private:
    void run() {
        for (auto next = std::chrono::steady_clock::now(); !quit_;) {
            std::this_thread::sleep_until(next += std::chrono::milliseconds(50));
            std::unique_lock lock(mutex_);
            if (queued_.empty() || c_->delivered == c_->stopAfter)
                continue;
            CaptureBuffer& b = *queued_.front();
            queued_.pop_front();
            lock.unlock();
            const int n = ++c_->delivered;
            b.bytesRecorded =
                c_->emptyEvery > 0 && n % c_->emptyEvery == 0 ? 0 : b.capacity / align_ * align_;
            for (std::uint32_t at = 0; at < b.bytesRecorded; at += align_, ++frame_) {
                const std::uint16_t sample[2] = {static_cast<std::uint16_t>(frame_),
                                                 static_cast<std::uint16_t>(frame_)};
                std::memcpy(b.data + at, sample, align_); // mono takes the low byte
            }
            target_->post({Notification::Data, &b});
        }
    }

    std::shared_ptr<FakeDeviceControl> c_;
    std::uint32_t align_ = 1;
    NotificationQueue* target_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::deque<CaptureBuffer*> queued_;
    std::atomic<bool> quit_{false};
    std::uint64_t frame_ = 0;
};

} // namespace kelvo::engine::testing
