// The device thread's ring of captured frames, between the source (ALSA, or a test device)
// and the engine's buffers. It rides out a worker that stalls for less than it holds; when
// it is full the newest frames are dropped and remembered as a gap in front of the frames
// that follow, so the engine can fill the gap with silence and keep the timeline.
//
// With the source's timing, the ring also knows when each frame was captured: place() tells
// when the next frame to be committed was captured; a stamp that runs ahead of the frames so
// far means the source lost that much (a server's overflow, a frozen process), which becomes
// a gap like a drop; readTimeNs() is when the next frame to take was captured.
//
// Threading: owned by one thread (the device's), or used under the device's lock; it never
// allocates after allocate().
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvo::engine {

class CaptureRing {
public:
    // Room for `frames` frames of `frameBytes` each, as the source delivers them.
    void allocate(std::size_t frames, std::size_t frameBytes, std::uint32_t rate = 0);
    void clear();

    std::size_t frames() const { return fill_ / frameBytes_; }
    std::size_t frameBytes() const { return frameBytes_; }

    // The contiguous free space at the write end: where and how many frames (0 when full).
    std::uint8_t* writable(std::size_t& frames);
    void commit(std::size_t frames);
    // The source had `frames` more that did not fit.
    void drop(std::uint64_t frames);

    // Moves up to `maxFrames` frames to dst, never past a gap. With downmix, frames of two
    // 8-bit unsigned channels become one channel holding their mean. Returns frames moved.
    std::size_t take(std::uint8_t* dst, std::size_t maxFrames, bool downmix);
    // The next frame to take follows a gap.
    bool atGap() const { return gapFrames_ > 0 && gapAt_ == 0; }
    // A gap lies somewhere ahead of the frames still to take.
    bool hasGap() const { return gapFrames_ > 0; }
    // When the next frame to take follows a gap: the gap's length, which is then cleared.
    std::uint64_t takeGap();

    // The next frame to commit was captured at `ns`. Stamps within kJitterNs of where the
    // frames so far put it are taken as noise; beyond, the timing follows the stamp.
    void place(std::int64_t ns);
    // When the next frame to take was captured; 0 before any place().
    std::int64_t readTimeNs() const;
    static constexpr std::int64_t kJitterNs = 200'000'000;

private:
    std::vector<std::uint8_t> data_;
    std::size_t frameBytes_ = 1;
    std::size_t read_ = 0;  // bytes
    std::size_t fill_ = 0;  // bytes
    std::size_t gapAt_ = 0; // frames to take before the gap
    std::uint64_t gapFrames_ = 0;

    std::uint32_t rate_ = 0;
    bool timed_ = false;
    std::int64_t zeroNs_ = 0;    // when frame 0 would have been captured
    std::uint64_t produced_ = 0; // frames committed or dropped so far
    std::uint64_t consumed_ = 0; // frames taken, gaps included
};

// Now on CLOCK_BOOTTIME, the clock of the engine and of every device's timing.
std::int64_t bootTimeNs();

// Two 8-bit unsigned channels to one, (L+R)/2: a mono source the server upmixed to two equal
// channels keeps its level, and a stereo one cannot clip.
void downmixU8(const std::uint8_t* stereo, std::uint8_t* mono, std::size_t frames);

} // namespace kelvo::engine
