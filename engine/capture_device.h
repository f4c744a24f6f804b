// The platform capture layer: what the engine needs of a capture device.
//
// Threading: open, prepare, start, reset, unprepare and close are called from the engine's
// caller thread; addBuffer is also called from the capture worker (to hand a buffer back).
// Implementations post notifications to the queue given at open: Data for every buffer
// they are done with (full, or partial after reset).
// A buffer belongs to the device from addBuffer until its Data notification is posted.
// A device that can no longer capture (the sound server went away, the card was pulled)
// posts Lost once and delivers nothing more; reset still hands back what it holds. The
// engine then retires it and opens a new one. After open, the engine's reconnect thread
// may make these calls instead of the caller's thread, never both at once.
//
// Timing: a device that knows when its audio was captured stamps each buffer with the
// moment of its first frame (capturedAtNs, on CLOCK_BOOTTIME, the engine's clock); the
// engine places the buffer on the recording's timeline by that stamp, so audio that arrives
// late (a frozen process, a server's backlog) lands where it belongs, and frames the device
// lost show up as the distance between two stamps. A device without timing leaves it 0 and
// reports what it dropped in gapFrames; its buffers are then taken as following each other.
#pragma once

#include <cstdint>

namespace kelvo::engine {

class NotificationQueue;

struct CaptureFormat {
    std::uint16_t channels = 0;      // 1 or 2
    std::uint32_t sampleRate = 0;    // frames per second
    std::uint16_t bitsPerSample = 0; // 8 for mono, 16 for stereo
    std::uint16_t blockAlign = 0;    // bytes per frame
    std::uint32_t avgBytesPerSec = 0;

    // The engine's one rule: channels decides both the channel count and the sample width.
    static CaptureFormat fromChannels(std::uint32_t channels, std::uint32_t sampleRate);
};

struct CaptureBuffer {
    std::uint8_t* data = nullptr;
    std::uint32_t capacity = 0;
    std::uint32_t bytesRecorded = 0;
    bool prepared = false;
    // Frames the device had to drop just before this buffer's first frame (its ring was
    // full); the engine writes as much silence there. Ignored when capturedAtNs is set.
    std::uint64_t gapFrames = 0;
    // When the first frame was captured, by the device's timing (see above); 0: unknown.
    std::int64_t capturedAtNs = 0;
    // Where in this buffer something new begins (a stream's next title), and its text in
    // UTF-8; kNoMark when nothing does. The engine puts it into the recording's cue sheet.
    static constexpr std::uint32_t kNoMark = 0xFFFFFFFF;
    std::uint32_t markFrame = kNoMark;
    char markText[256] = {};
};

// Error numbers of unprepare, as the engine maps them to its stop codes.
enum DeviceError : int {
    kDeviceOk = 0,
    kDeviceInvalidHandle = 5,
    kDeviceNoDriver = 6,
    kDeviceNoMemory = 7,
    kDeviceStillQueued = 33,
};

// What open returns when the sound server answers but has no source of the asked name:
// the engine then records silence and keeps trying, rather than failing the start.
constexpr int kDeviceSourceMissing = 2; // ENOENT

// Error numbers of a stream device's open, as the engine maps them to its start codes.
enum StreamError : int {
    kStreamUnreachable = 1001, // no connection: refused, timed out, no such host
    kStreamRefused = 1002,     // the server answered with an HTTP error (404, 403, 500 ...)
    kStreamNotAudio = 1003,    // an answer, but no audio stream in it (a web page)
    kStreamEnded = 1004,       // a stream of known length that was played to its end
};

class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;

    // Every call returns 0 on success, else a non-zero error number (an errno value).
    virtual int open(const CaptureFormat& format, NotificationQueue& target) = 0;
    virtual int prepare(CaptureBuffer& buffer) = 0;
    virtual int addBuffer(CaptureBuffer& buffer) = 0;
    virtual int start() = 0;
    // Stops capturing and returns every queued buffer (with what it holds) as Data.
    virtual int reset() = 0;
    virtual int unprepare(CaptureBuffer& buffer) = 0;
    virtual int close() = 0;
};

} // namespace kelvo::engine
