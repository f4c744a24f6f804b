// The capture worker's message queue: the device thread and the caller's thread post,
// the worker waits. Fixed capacity, no allocation after construction; at most two Data
// notifications can be in flight at once, so the capacity is never reached in practice.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace kelvo::engine {

struct CaptureBuffer;

struct Notification {
    enum Kind : unsigned { Data, Lost, Quit };
    Kind kind = Quit;
    CaptureBuffer* buffer = nullptr;
};

class NotificationQueue {
public:
    // Returns false only when the queue is full; the notification is then dropped.
    bool post(Notification n) {
        {
            std::lock_guard lock(mutex_);
            if (count_ == items_.size())
                return false;
            items_[(head_ + count_) % items_.size()] = n;
            ++count_;
        }
        ready_.notify_one();
        return true;
    }

    // Posts several with one wake-up (a device's filled buffers): all of them, or when they
    // do not all fit, none.
    bool post(const Notification* n, std::size_t count) {
        {
            std::lock_guard lock(mutex_);
            if (items_.size() - count_ < count)
                return false;
            for (std::size_t i = 0; i < count; ++i)
                items_[(head_ + count_ + i) % items_.size()] = n[i];
            count_ += count;
        }
        ready_.notify_one();
        return true;
    }
    // Waits for the next notification, giving up after `timeout`; false then.
    template <typename Duration> bool waitFor(Notification& out, Duration timeout) {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_for(lock, timeout, [this] { return count_ > 0; }))
            return false;
        out = items_[head_];
        head_ = (head_ + 1) % items_.size();
        --count_;
        return true;
    }

    void clear() {
        std::lock_guard lock(mutex_);
        head_ = count_ = 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::array<Notification, 16> items_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

} // namespace kelvo::engine
