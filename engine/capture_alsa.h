// Capture from the ALSA "default" device, which reaches PipeWire or PulseAudio through
// their ALSA plugins and the hardware on plain ALSA.
//
// A device thread of our own keeps reading ALSA into a ring of three seconds and fills the
// queued buffers from it, so a worker that stalls two seconds (a slow disk) loses no audio
// whatever buffering the device behind "default" offers; a longer stall becomes a gap the
// engine fills. The thread waits in poll() on the PCM's descriptors and an eventfd, and
// never allocates after open(). When reading fails for good (the sound server is gone) it
// posts Lost and ends; the engine opens a new device.
//
// 8-bit mono is captured as two channels and mixed down here to their mean: a server asked
// for one channel may sum the two without scaling them (+3 dB, clipping). A device that
// offers only one channel is taken as it is.
// addBuffer may be called from the worker while the caller's thread runs the rest; a
// short mutex guards the queue of buffers.
#pragma once

#include "engine/capture_device.h"
#include "engine/capture_ring.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <thread>
#include <vector>

struct _snd_pcm;

namespace kelvo::engine {

class AlsaCaptureDevice final : public CaptureDevice {
public:
    AlsaCaptureDevice() = default;
    ~AlsaCaptureDevice() override;

    int open(const CaptureFormat& format, NotificationQueue& target) override;
    int prepare(CaptureBuffer& buffer) override;
    int addBuffer(CaptureBuffer& buffer) override;
    int start() override;
    int reset() override;
    int unprepare(CaptureBuffer& buffer) override;
    int close() override;

private:
    void run();
    void readAvailable();
    void recoverFrom(int error);
    void lose();
    bool fillFront();
    bool returnFront();
    void wake();
    void stopThread();
    CaptureBuffer* front();
    bool isQueued(const CaptureBuffer& buffer);

    _snd_pcm* pcm_ = nullptr;
    NotificationQueue* target_ = nullptr;
    std::size_t frameBytes_ = 0; // as the engine receives them
    std::uint32_t rate_ = 0;
    bool downmix_ = false; // the PCM delivers two 8-bit channels for one
    int wakeFd_ = -1;
    std::vector<pollfd> fds_; // the PCM's descriptors, then the eventfd
    std::thread thread_;
    std::atomic<bool> quit_{false};

    CaptureRing ring_;                  // the device thread's alone while it runs
    std::vector<std::uint8_t> scratch_; // where audio that does not fit the ring is read to

    std::mutex mutex_; // guards accepting_, queue_, queued_, filled_
    bool accepting_ = false;
    std::array<CaptureBuffer*, 4> queue_{};
    std::size_t head_ = 0;
    std::size_t queued_ = 0;
    std::size_t filled_ = 0; // bytes already in the front buffer
};

} // namespace kelvo::engine
