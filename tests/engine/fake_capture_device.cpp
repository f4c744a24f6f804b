#include "fake_capture_device.h"

#include "engine/notification_queue.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kelvo::engine::testing {

FakeCaptureDevice::FakeCaptureDevice(std::shared_ptr<FakeDeviceControl> control)
    : control_(std::move(control)) {}

FakeCaptureDevice::~FakeCaptureDevice() {
    close();
}

std::function<std::unique_ptr<CaptureDevice>()>
FakeCaptureDevice::factory(std::shared_ptr<FakeDeviceControl> control) {
    return [control] { return std::make_unique<FakeCaptureDevice>(control); };
}

int FakeCaptureDevice::open(const CaptureFormat& format, NotificationQueue& target) {
    if (control_->busy)
        return EBUSY;
    ++control_->opens;
    format_ = format;
    target_ = &target;
    open_ = true;
    target_->post({Notification::Open, nullptr});
    return 0;
}

int FakeCaptureDevice::prepare(CaptureBuffer& buffer) {
    if (control_->failPrepare)
        return EINVAL;
    std::lock_guard lock(control_->mutex);
    control_->capacities.push_back(buffer.capacity);
    buffer.prepared = true;
    return 0;
}

int FakeCaptureDevice::addBuffer(CaptureBuffer& buffer) {
    if (control_->failQueue)
        return EINVAL;
    {
        std::lock_guard lock(mutex_);
        if (!open_)
            return EINVAL;
        queued_.push_back(&buffer);
    }
    changed_.notify_all();
    return 0;
}

int FakeCaptureDevice::start() {
    if (control_->failStart)
        return EIO;
    thread_ = std::thread(&FakeCaptureDevice::run, this);
    return 0;
}

void FakeCaptureDevice::run() {
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        CaptureBuffer* buffer;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return quit_ || !queued_.empty(); });
            if (quit_)
                return;
            int stopAfter = control_->stopAfter;
            if (stopAfter >= 0 && control_->buffersDelivered >= stopAfter) {
                changed_.wait(lock, [this] { return quit_; });
                return;
            }
            buffer = queued_.front();
        }
        if (int pace = control_->pacingMs; pace > 0) {
            next += std::chrono::milliseconds(pace);
            std::this_thread::sleep_until(next);
        }
        const std::uint32_t frames = buffer->capacity / format_.blockAlign;
        const std::uint32_t bytes = frames * format_.blockAlign;
        int n = ++control_->buffersDelivered;
        int emptyEvery = control_->emptyEvery;
        if (emptyEvery > 0 && n % emptyEvery == 0) {
            buffer->bytesRecorded = 0;
        } else {
            if (control_->fill) {
                control_->fill(frame_, buffer->data, bytes);
            } else {
                for (std::uint32_t i = 0; i < frames; ++i) {
                    std::uint64_t f = frame_ + i;
                    if (format_.blockAlign == 1) {
                        buffer->data[i] = static_cast<std::uint8_t>(f);
                    } else {
                        std::uint8_t* p = buffer->data + 4 * i;
                        p[0] = p[2] = static_cast<std::uint8_t>(f);
                        p[1] = p[3] = static_cast<std::uint8_t>(f >> 8);
                    }
                }
            }
            frame_ += frames;
            buffer->bytesRecorded = bytes;
        }
        {
            std::lock_guard lock(mutex_);
            if (quit_ || queued_.empty() || queued_.front() != buffer)
                return;
            queued_.pop_front();
        }
        target_->post({Notification::Data, buffer});
    }
}

void FakeCaptureDevice::stopThread() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    std::lock_guard lock(mutex_);
    quit_ = false;
}

int FakeCaptureDevice::reset() {
    stopThread();
    std::lock_guard lock(mutex_);
    while (!queued_.empty()) {
        CaptureBuffer* b = queued_.front();
        queued_.pop_front();
        b->bytesRecorded = 0;
        target_->post({Notification::Data, b});
    }
    return 0;
}

int FakeCaptureDevice::unprepare(CaptureBuffer& buffer) {
    if (int err = control_->unprepareError; err != 0)
        return err;
    buffer.prepared = false;
    return 0;
}

int FakeCaptureDevice::close() {
    if (!open_)
        return 0;
    stopThread();
    {
        std::lock_guard lock(mutex_);
        open_ = false;
        queued_.clear();
    }
    target_->post({Notification::Close, nullptr});
    return 0;
}

} // namespace kelvo::engine::testing
