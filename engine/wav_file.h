// The PCM WAV file of a recording: a 44-byte header, then the samples as captured.
//
// Owned by the engine; between start and stop only the capture worker touches it.
// While recording, the two size fields are brought up to date about once a second, so a
// killed process leaves a valid file that lacks at most the last second. A recording that
// would outgrow the 32-bit sizes continues in a new file beside the first (NAME-2.wav,
// NAME-3.wav, ...), each one complete in itself.
#pragma once

#include "engine/capture_device.h"

#include <climits>
#include <cstddef>
#include <cstdint>

namespace kelvo::engine {

class WavFile {
public:
    // Largest data chunk one file may hold; whole frames, RIFF size still fits 32 bits.
    static constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

    WavFile() = default;
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;
    ~WavFile();

    // Creates the file (emptying an existing one) and writes the header with both sizes 0.
    bool create(const char* path, const CaptureFormat& format,
                std::uint64_t maxDataBytes = kMaxDataBytes);
    bool isOpen() const { return fd_ >= 0; }

    // Appends captured bytes. Only bytes that reached the file are counted; a short write
    // (a full disk) is cut back to whole frames so later audio stays frame-aligned.
    void append(const std::uint8_t* data, std::size_t bytes);

    // Completes the sizes and closes: 0, or -6 (seek), -7 (size write), -4 (close).
    int finish();

    // Closes without the final sizes (they are already up to date to the last second).
    void abandon();

    std::uint32_t dataBytes() const { return dataBytes_; }
    // How many files this recording has used so far (1 unless it outgrew one file).
    int part() const { return part_; }

private:
    bool openPart(const char* path);
    void writeSizes();
    std::size_t writeAll(const std::uint8_t* data, std::size_t bytes);

    int fd_ = -1;
    CaptureFormat format_{};
    std::uint64_t maxDataBytes_ = kMaxDataBytes;
    std::uint32_t dataBytes_ = 0;
    std::uint32_t bytesSinceSizes_ = 0;
    int part_ = 1;
    char basePath_[PATH_MAX] = {};
    char partPath_[PATH_MAX + 16] = {};
};

} // namespace kelvo::engine
