#include "engine/engine_state.h"
#include "engine/peak_meter.h"

#include <chrono>

namespace kelvo::engine {
namespace {

void handleBuffer(EngineState& s, CaptureBuffer& b) {
    if (int stall = s.stallMs.exchange(0, std::memory_order_relaxed); stall > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(stall));

    // An empty buffer is neither measured nor written, but it still goes back into the
    // cycle (or is counted): dropping it would starve the device and hang the stop.
    if (b.bytesRecorded > 0) {
        Peaks p =
            measurePeaks(s.widthSelector.load(std::memory_order_relaxed), b.data, b.bytesRecorded);
        s.peakLeft.store(p.left, std::memory_order_relaxed);
        s.peakRight.store(p.right, std::memory_order_relaxed);
        if (s.file.isOpen() && s.paused.load(std::memory_order_relaxed) == 0)
            s.file.append(b.data, b.bytesRecorded);
    }

    // A buffer the device refuses is out of the cycle for good; counting it keeps the
    // stop's drain from waiting for a buffer that will never come back.
    if (s.requeue.load(std::memory_order_acquire) == 1 && s.device->addBuffer(b) == 0)
        return;
    s.returned.fetch_add(1, std::memory_order_release);
}

} // namespace

void runCaptureWorker(EngineState& s) {
    for (;;) {
        Notification n = s.queue.wait();
        switch (n.kind) {
        case Notification::Quit:
            return;
        case Notification::Open:
            s.returned.store(0, std::memory_order_relaxed);
            break;
        case Notification::Data:
            if (n.buffer != nullptr)
                handleBuffer(s, *n.buffer);
            break;
        case Notification::Close:
            break;
        }
    }
}

} // namespace kelvo::engine
