#include "engine/engine_state.h"
#include "engine/peak_meter.h"

#include "kelvo/kelvo.h"

#include <algorithm>
#include <chrono>

namespace kelvo::engine {
namespace {

// While the device is away the worker wakes this often to bring the silence up to the clock.
constexpr auto kFillStep = std::chrono::milliseconds(100);
// A device may run this far behind the clock without a gap being assumed: more than its ring
// can hold. Beyond it the device went quiet without failing (the machine slept, the server
// was suspended) and the time is filled like any other gap.
constexpr std::uint64_t kLagLimitSeconds = 5;

std::uint64_t framesByClock(const EngineState& s) {
    const std::int64_t ns = s.clock() - s.startedAt.load(std::memory_order_relaxed);
    if (ns <= 0)
        return 0;
    return static_cast<std::uint64_t>(static_cast<__int128>(ns) * s.format.sampleRate /
                                      1'000'000'000);
}

void noteWrite(EngineState& s, std::size_t bytes) {
    s.status.bytesWritten.fetch_add(bytes, std::memory_order_relaxed);
    s.status.parts.store(static_cast<std::uint32_t>(s.file.part()), std::memory_order_relaxed);
    if (int err = s.file.lastError(); err != 0)
        s.status.lastWriteError.store(err, std::memory_order_relaxed);
}

void openGap(EngineState& s) {
    Timeline& t = s.timeline;
    if (t.gapOpen)
        return;
    t = Timeline{t.frames, true, 0, 0, false};
    s.status.gaps.fetch_add(1, std::memory_order_relaxed);
    s.status.lastGapFrames.store(0, std::memory_order_relaxed);
}

// Accounts `frames` more of the open gap and writes them as silence, up to the fill bound.
void fillGap(EngineState& s, std::uint64_t frames) {
    Timeline& t = s.timeline;
    t.frames += frames;
    t.gapFrames += frames;
    s.status.lastGapFrames.store(t.gapFrames, std::memory_order_relaxed);
    const std::uint64_t room = s.maxFillFrames - std::min(t.gapWritten, s.maxFillFrames);
    const std::uint64_t fill = std::min(frames, room);
    t.gapWritten += fill;
    if (frames > fill)
        t.nextPart = true;
    if (fill == 0 || !s.file.isOpen() || s.paused.load(std::memory_order_relaxed) != 0)
        return;
    const std::size_t bytes = s.file.appendSilence(fill);
    s.status.framesFilled.fetch_add(bytes / s.format.blockAlign, std::memory_order_relaxed);
    noteWrite(s, bytes);
}

void fillToClock(EngineState& s, std::uint64_t ahead = 0) {
    const std::uint64_t due = framesByClock(s);
    if (due > s.timeline.frames + ahead)
        fillGap(s, due - s.timeline.frames - ahead);
}

void closeGap(EngineState& s) {
    Timeline& t = s.timeline;
    if (!t.gapOpen)
        return;
    // A gap too long to fill ends the part; the next audio opens the next one.
    if (t.nextPart && s.file.isOpen() && s.file.startNextPart())
        s.status.parts.store(static_cast<std::uint32_t>(s.file.part()), std::memory_order_relaxed);
    t.gapOpen = false;
    t.nextPart = false;
}

void handleBuffer(EngineState& s, CaptureBuffer& b) {
    if (int stall = s.stallMs.exchange(0, std::memory_order_relaxed); stall > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(stall));

    const bool fromLiveDevice = s.requeue.load(std::memory_order_acquire) == 1;
    // An empty buffer is neither measured nor written, but it still goes back into the
    // cycle (or is counted): dropping it would starve the device and hang the stop.
    if (b.bytesRecorded > 0 || b.gapFrames > 0) {
        const std::uint64_t frames = b.bytesRecorded / s.format.blockAlign;
        if (b.gapFrames > 0) {
            openGap(s);
            fillGap(s, b.gapFrames);
            closeGap(s);
        }
        if (!s.timeline.gapOpen && fromLiveDevice && frames > 0 &&
            framesByClock(s) > s.timeline.frames + frames + kLagLimitSeconds * s.format.sampleRate)
            openGap(s);
        if (s.timeline.gapOpen && fromLiveDevice && frames > 0) {
            // The first audio of a reopened device: silence up to where it belongs.
            fillToClock(s, frames);
            closeGap(s);
            s.status.deviceState.store(KELVO_DEVICE_CAPTURING, std::memory_order_relaxed);
        }
        s.timeline.frames += frames;
        s.status.framesCaptured.fetch_add(frames, std::memory_order_relaxed);
    }
    if (b.markFrame != CaptureBuffer::kNoMark) {
        // Where the title lands in the file: while paused, where the file goes on.
        const std::uint64_t at =
            s.paused.load(std::memory_order_relaxed) != 0
                ? 0
                : std::min<std::uint64_t>(b.markFrame, b.bytesRecorded / s.format.blockAlign);
        if (s.file.isOpen())
            s.cue.addTrack(s.file.part(), s.file.dataBytes() / s.format.blockAlign + at,
                           s.format.sampleRate, b.markText);
        b.markFrame = CaptureBuffer::kNoMark;
    }
    if (b.bytesRecorded > 0) {
        Peaks p =
            measurePeaks(s.widthSelector.load(std::memory_order_relaxed), b.data, b.bytesRecorded);
        s.peakLeft.store(p.left, std::memory_order_relaxed);
        s.peakRight.store(p.right, std::memory_order_relaxed);
        if (s.file.isOpen() && s.paused.load(std::memory_order_relaxed) == 0)
            noteWrite(s, s.file.append(b.data, b.bytesRecorded));
    }
    b.gapFrames = 0;

    // A buffer the device refuses is out of the cycle for good; counting it keeps the
    // stop's drain from waiting for a buffer that will never come back.
    if (fromLiveDevice) {
        std::lock_guard lock(s.deviceMutex);
        if (s.requeue.load(std::memory_order_acquire) == 1 && s.device &&
            s.device->addBuffer(b) == 0)
            return;
    }
    s.returned.fetch_add(1, std::memory_order_release);
}

void deviceLost(EngineState& s) {
    openGap(s);
    s.status.deviceState.store(KELVO_DEVICE_RECONNECTING, std::memory_order_relaxed);
    {
        std::lock_guard lock(s.reconnectMutex);
        s.deviceLost = true;
    }
    s.reconnectWake.notify_one();
}

} // namespace

void runCaptureWorker(EngineState& s) {
    for (;;) {
        Notification n;
        if (!s.queue.waitFor(n, kFillStep)) {
            // Silence only once the lost device's last buffers are written, so it lands
            // after them.
            if (s.timeline.gapOpen && s.returned.load(std::memory_order_acquire) == 2)
                fillToClock(s);
            continue;
        }
        switch (n.kind) {
        case Notification::Quit:
            if (s.timeline.gapOpen) {
                fillToClock(s);
                s.status.deviceState.store(KELVO_DEVICE_LOST, std::memory_order_relaxed);
            }
            return;
        case Notification::Lost:
            deviceLost(s);
            break;
        case Notification::Data:
            if (n.buffer != nullptr)
                handleBuffer(s, *n.buffer);
            break;
        case Notification::Open:
        case Notification::Close:
            break;
        }
    }
}

} // namespace kelvo::engine
