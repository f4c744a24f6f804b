#include "engine/engine_state.h"
#include "engine/peak_meter.h"

#include "kelvo/kelvo.h"

#include <algorithm>
#include <chrono>

namespace kelvo::engine {
namespace {

// While a device is away the worker wakes this often to bring the timeline up to the clock.
constexpr std::int64_t kFillStepNs = 100'000'000;
// A live device that delivers nothing for this long has stalled (a frozen server, a device
// that went quiet without failing): its time is filled. Audio it delivers later for the same
// time is dropped, so nothing is counted twice.
constexpr std::int64_t kQuietNs = 1'000'000'000;
// The longest the worker waits for a buffer, so that a loop that did not come round for
// kFrozenNs was late by half a second at least.
constexpr std::int64_t kLongestWaitNs = 500'000'000;
// A loop that did not come round for this long means this process itself was frozen (or the
// worker stalled): the device then gets kQuietNs to deliver its backlog before any filling.
constexpr std::int64_t kFrozenNs = 1'000'000'000;
// A stop finds the last few tens of milliseconds still inside the device; only a shortfall
// beyond this is a gap (a freeze that lasted into the stop).
constexpr std::int64_t kStopSlackNs = 150'000'000;

std::int64_t framesToNs(std::uint64_t frames, std::uint32_t rate) {
    return static_cast<std::int64_t>(static_cast<__int128>(frames) * 1'000'000'000 / rate);
}

// Timeline frames the clock says should be there by `now`.
std::uint64_t dueFrames(const EngineState& s, std::int64_t now) {
    return s.timeline.anchored ? framesIn(now - s.timeline.anchorNs, s.format.sampleRate) : 0;
}

void anchor(EngineState& s, std::int64_t ns) {
    Timeline& t = s.timeline;
    if (!t.anchored) {
        t.anchored = true;
        t.anchorNs = ns;
        s.status.timelineStartNs.store(ns, std::memory_order_relaxed);
    }
}

void noteWrite(EngineState& s) {
    s.status.bytesWritten.store(s.file.bytesWritten(), std::memory_order_relaxed);
    s.status.parts.store(static_cast<std::uint32_t>(s.file.part()), std::memory_order_relaxed);
    if (int err = s.file.lastError(); err != 0)
        s.status.lastWriteError.store(err, std::memory_order_relaxed);
}

void openGap(EngineState& s) {
    Timeline& t = s.timeline;
    if (t.gapOpen)
        return;
    t.gapOpen = true;
    t.gapFrames = t.gapWritten = 0;
    t.nextPart = false;
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
    noteWrite(s);
}

// Brings the timeline up to frame `due` with silence, as part of the open gap.
void fillTo(EngineState& s, std::uint64_t due) {
    if (due <= s.timeline.frames)
        return;
    openGap(s);
    fillGap(s, due - s.timeline.frames);
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

void measure(EngineState& s, const CaptureBuffer& b, std::uint64_t frames) {
    const Peaks p =
        measurePeaks(s.widthSelector.load(std::memory_order_relaxed), b.data, b.bytesRecorded);
    s.peakLeft.store(p.left, std::memory_order_relaxed);
    s.peakRight.store(p.right, std::memory_order_relaxed);
    StatusCounters& c = s.status;
    const std::uint32_t peak = std::max(p.left, p.right);
    if (peak > c.highestPeak.load(std::memory_order_relaxed))
        c.highestPeak.store(peak, std::memory_order_relaxed);
    c.sumOfSquares.fetch_add(p.sumOfSquares, std::memory_order_relaxed);
    c.samples.fetch_add(frames * s.format.channels, std::memory_order_relaxed);
    if (peak <= KELVO_SILENCE_PEAK) {
        c.framesSilent.fetch_add(frames, std::memory_order_relaxed);
        c.silentRunFrames.fetch_add(frames, std::memory_order_relaxed);
    } else {
        c.silentRunFrames.store(0, std::memory_order_relaxed);
    }
}

// Puts the buffer's frames where the rule says they belong: silence first when the buffer
// starts later than the timeline has come, and the frames it holds for time already on the
// timeline (filled while the device was quiet) dropped. Returns how many frames to drop.
std::uint64_t place(EngineState& s, const CaptureBuffer& b, std::uint64_t frames, std::int64_t now,
                    bool reopened) {
    Timeline& t = s.timeline;
    const std::uint32_t rate = s.format.sampleRate;
    std::uint64_t at;
    std::uint64_t tolerance = 0;
    if (b.capturedAtNs != 0) {
        anchor(s, b.capturedAtNs);
        at = framesIn(b.capturedAtNs - t.anchorNs, rate);
        // The device's timing is an estimate; small differences are its noise (and clock drift
        // between the card and the system), corrected only once they add up.
        tolerance = rate / 10;
    } else {
        anchor(s, now - framesToNs(frames, rate));
        at = t.frames + b.gapFrames;
        // The first audio of a reopened device that keeps no time of its own (a stream)
        // ends now: the time it was away goes in front of it.
        if (reopened) {
            const std::uint64_t due = dueFrames(s, now);
            at = std::max(at, due > frames ? due - frames : 0);
        }
    }
    if (at > t.frames + tolerance)
        fillTo(s, at);
    if (at + tolerance < t.frames)
        return std::min(frames, t.frames - at);
    return 0;
}

void handleBuffer(EngineState& s, CaptureBuffer& b) {
    if (int stall = s.stallMs.exchange(0, std::memory_order_relaxed); stall > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(stall));

    const bool fromLiveDevice = s.requeue.load(std::memory_order_acquire) == 1;
    const std::uint64_t frames = b.bytesRecorded / s.format.blockAlign;
    std::uint64_t kept = 0; // of this buffer's frames, written at the file's end
    std::uint64_t skip = 0; // its first frames, for time already in the file
    // An empty buffer is neither measured nor written, but it still goes back into the
    // cycle (or is counted): dropping it would starve the device and hang the stop.
    if (frames > 0 || b.gapFrames > 0) {
        Timeline& t = s.timeline;
        const std::int64_t now = s.clock();
        skip = place(s, b, frames, now, fromLiveDevice && frames > 0 && t.away);
        if (fromLiveDevice && frames > 0) {
            t.lastDataNs = now;
            if (t.away) {
                t.away = false;
                s.status.deviceState.store(KELVO_DEVICE_CAPTURING, std::memory_order_relaxed);
            }
        }
        if (!t.away)
            closeGap(s);
        kept = frames - skip;
        t.frames += kept;
        s.status.framesCaptured.fetch_add(kept, std::memory_order_relaxed);
        if (frames > 0) {
            measure(s, b, frames);
            if (kept > 0 && s.file.isOpen() && s.paused.load(std::memory_order_relaxed) == 0) {
                s.file.append(b.data + skip * s.format.blockAlign, kept * s.format.blockAlign);
                noteWrite(s);
            }
        }
    }
    if (b.markFrame != CaptureBuffer::kNoMark) {
        // Where the title lands in the file: this buffer's kept frames end where the file
        // does now; while paused, where the file goes on.
        if (s.file.isOpen()) {
            std::uint64_t at = s.file.dataBytes() / s.format.blockAlign;
            if (s.paused.load(std::memory_order_relaxed) == 0 && b.markFrame < frames)
                at -= kept - (b.markFrame > skip ? b.markFrame - skip : 0);
            s.cue.addTrack(s.file.part(), at, s.format.sampleRate, b.markText);
        }
        b.markFrame = CaptureBuffer::kNoMark;
    }
    b.gapFrames = 0;
    b.capturedAtNs = 0;

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
    Timeline& t = s.timeline;
    // Lost before its first frame: the recording's time runs from its start.
    anchor(s, s.startedAt.load(std::memory_order_relaxed));
    t.away = true;
    openGap(s);
    int expected = KELVO_DEVICE_CAPTURING;
    s.status.deviceState.compare_exchange_strong(expected, KELVO_DEVICE_RECONNECTING);
    {
        std::lock_guard lock(s.reconnectMutex);
        s.deviceLost = true;
    }
    s.reconnectWake.notify_one();
}

// Nothing arrived for a fill step: a device that is away, or a live one that has been quiet
// too long, has its time filled up to the clock.
void idle(EngineState& s, std::int64_t now) {
    Timeline& t = s.timeline;
    if (t.away) {
        // Silence only once the lost device's last buffers are written, so it lands after them.
        if (s.returned.load(std::memory_order_acquire) == 2)
            fillTo(s, dueFrames(s, now));
    } else if (t.anchored && now - std::max(t.lastDataNs, t.watchFromNs) > kQuietNs) {
        fillTo(s, dueFrames(s, now));
    }
}

// The stop: the device has handed back all it had. A timeline short of the stop by more than
// a device's latency is a gap under way (the device away, or a freeze lasting into the stop).
void finish(EngineState& s, std::int64_t now) {
    Timeline& t = s.timeline;
    if (t.away) {
        fillTo(s, dueFrames(s, now));
        s.status.deviceState.store(KELVO_DEVICE_LOST, std::memory_order_relaxed);
    } else if (t.anchored &&
               dueFrames(s, now) > t.frames + framesIn(kStopSlackNs, s.format.sampleRate)) {
        fillTo(s, dueFrames(s, now));
    }
}

// How long the worker may wait for a notification before it has time to fill. A live device
// has none to fill before it has been quiet for kQuietNs: waking after one fill step, while
// buffers come every fragment, would only double the worker's wake-ups.
std::int64_t patienceNs(const EngineState& s, std::int64_t now) {
    const Timeline& t = s.timeline;
    if (t.away)
        return kFillStepNs;
    const std::int64_t quietSince = t.anchored ? std::max(t.lastDataNs, t.watchFromNs) : now;
    return std::clamp(quietSince + kQuietNs - now, kFillStepNs, kLongestWaitNs);
}

} // namespace

void runCaptureWorker(EngineState& s) {
    Timeline& t = s.timeline;
    t.lastLoopNs = s.clock();
    for (;;) {
        Notification n;
        const std::int64_t patience = patienceNs(s, t.lastLoopNs);
        const bool got = s.queue.waitFor(n, std::chrono::nanoseconds(patience));
        const std::int64_t now = s.clock();
        if (now - t.lastLoopNs > kFrozenNs)
            t.watchFromNs = now;
        t.lastLoopNs = now;
        if (!got) {
            idle(s, now);
            continue;
        }
        switch (n.kind) {
        case Notification::Quit:
            finish(s, now);
            s.file.flush();
            noteWrite(s);
            return;
        case Notification::Lost:
            deviceLost(s);
            break;
        case Notification::Data:
            if (n.buffer != nullptr) {
                handleBuffer(s, *n.buffer);
                t.lastLoopNs = s.clock();
            }
            break;
        }
    }
}

} // namespace kelvo::engine
