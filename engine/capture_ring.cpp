#include "engine/capture_ring.h"

#include <algorithm>
#include <cstring>
#include <time.h>
#include <utility>

namespace kelvo::engine {

namespace {

std::int64_t framesToNs(std::uint64_t frames, std::uint32_t rate) {
    return static_cast<std::int64_t>(static_cast<__int128>(frames) * 1'000'000'000 / rate);
}

} // namespace

void CaptureRing::allocate(std::size_t frames, std::size_t frameBytes, std::uint32_t rate) {
    frameBytes_ = std::max<std::size_t>(frameBytes, 1);
    rate_ = rate;
    data_.assign(frames * frameBytes_, 0);
    clear();
}

void CaptureRing::clear() {
    read_ = fill_ = gapAt_ = 0;
    gapFrames_ = 0;
    timed_ = false;
    zeroNs_ = 0;
    produced_ = consumed_ = 0;
}

std::uint8_t* CaptureRing::writable(std::size_t& frames) {
    const std::size_t write = (read_ + fill_) % std::max<std::size_t>(data_.size(), 1);
    const std::size_t space = std::min(data_.size() - fill_, data_.size() - write);
    frames = space / frameBytes_;
    return data_.data() + write;
}

void CaptureRing::commit(std::size_t frames) {
    fill_ += frames * frameBytes_;
    produced_ += frames;
}

void CaptureRing::drop(std::uint64_t frames) {
    // A second drop before the first gap was taken joins it: the total stays exact, only
    // where the silence lands moves by what the ring held in between.
    if (gapFrames_ == 0)
        gapAt_ = fill_ / frameBytes_;
    gapFrames_ += frames;
    produced_ += frames;
}

std::size_t CaptureRing::take(std::uint8_t* dst, std::size_t maxFrames, bool downmix) {
    std::size_t limit = std::min(maxFrames, fill_ / frameBytes_);
    if (gapFrames_ > 0)
        limit = std::min(limit, gapAt_);
    std::size_t done = 0;
    while (done < limit) {
        const std::size_t chunk = std::min(limit - done, (data_.size() - read_) / frameBytes_);
        if (downmix)
            downmixU8(data_.data() + read_, dst + done, chunk);
        else
            std::memcpy(dst + done * frameBytes_, data_.data() + read_, chunk * frameBytes_);
        done += chunk;
        read_ = (read_ + chunk * frameBytes_) % data_.size();
        fill_ -= chunk * frameBytes_;
    }
    if (gapFrames_ > 0)
        gapAt_ -= done;
    consumed_ += done;
    return done;
}

std::uint64_t CaptureRing::takeGap() {
    if (gapFrames_ == 0 || gapAt_ > 0)
        return 0;
    consumed_ += gapFrames_;
    return std::exchange(gapFrames_, 0);
}

void CaptureRing::place(std::int64_t ns) {
    if (rate_ == 0)
        return;
    const std::int64_t expected = zeroNs_ + framesToNs(produced_, rate_);
    if (!timed_) {
        timed_ = true;
        zeroNs_ = ns - framesToNs(produced_, rate_);
    } else if (ns - expected > kJitterNs) {
        // The source lost what lies between: a gap in its place keeps what follows in time.
        drop(static_cast<std::uint64_t>(static_cast<__int128>(ns - expected) * rate_ /
                                        1'000'000'000));
        zeroNs_ = ns - framesToNs(produced_, rate_);
    } else if (expected - ns > kJitterNs) {
        // Earlier than the frames so far allow: the earlier stamps ran late (a stale
        // estimate). The source's latest word counts; the engine drops what overlaps.
        zeroNs_ = ns - framesToNs(produced_, rate_);
    }
}

std::int64_t CaptureRing::readTimeNs() const {
    return timed_ ? zeroNs_ + framesToNs(consumed_, rate_) : 0;
}

std::int64_t bootTimeNs() {
    timespec t{};
    ::clock_gettime(CLOCK_BOOTTIME, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void downmixU8(const std::uint8_t* stereo, std::uint8_t* mono, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i)
        mono[i] = static_cast<std::uint8_t>((stereo[2 * i] + stereo[2 * i + 1]) >> 1);
}

} // namespace kelvo::engine
