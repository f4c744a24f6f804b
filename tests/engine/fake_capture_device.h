// A capture device for tests: it fills buffers with a running frame counter (8-bit: the
// counter's low byte; 16-bit: the counter's low 16 bits on both channels), so a test can
// prove the file holds every frame in order. Faults are switched on per test.
#pragma once

#include "engine/capture_device.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvo::engine::testing {

struct FakeDeviceControl {
    // Faults
    std::atomic<bool> busy{false}; // open fails, as a device held elsewhere
    std::atomic<bool> failPrepare{false};
    std::atomic<bool> failQueue{false}; // addBuffer fails (at start and later)
    std::atomic<bool> failStart{false};
    std::atomic<int> unprepareError{0}; // error number unprepare returns
    std::atomic<int> emptyEvery{0};     // every n-th buffer comes back with no bytes
    std::atomic<int> stopAfter{-1};     // after n buffers, no buffer comes back again
    std::atomic<int> pacingMs{0};       // 0: deliver as fast as the worker takes them

    // Replaces the counter pattern (frame index, buffer, bytes).
    std::function<void(std::uint64_t, std::uint8_t*, std::uint32_t)> fill;

    // Observations
    std::atomic<int> opens{0};
    std::atomic<int> buffersDelivered{0};
    std::mutex mutex;
    std::vector<std::uint32_t> capacities;
};

class FakeCaptureDevice final : public CaptureDevice {
public:
    explicit FakeCaptureDevice(std::shared_ptr<FakeDeviceControl> control);
    ~FakeCaptureDevice() override;

    int open(const CaptureFormat& format, NotificationQueue& target) override;
    int prepare(CaptureBuffer& buffer) override;
    int addBuffer(CaptureBuffer& buffer) override;
    int start() override;
    int reset() override;
    int unprepare(CaptureBuffer& buffer) override;
    int close() override;

    // A factory for Engine that builds devices sharing one control block.
    static std::function<std::unique_ptr<CaptureDevice>()>
    factory(std::shared_ptr<FakeDeviceControl> control);

private:
    void run();
    void stopThread();

    std::shared_ptr<FakeDeviceControl> control_;
    CaptureFormat format_{};
    NotificationQueue* target_ = nullptr;
    bool open_ = false;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<CaptureBuffer*> queued_;
    bool quit_ = false;
    std::uint64_t frame_ = 0;
};

} // namespace kelvo::engine::testing
