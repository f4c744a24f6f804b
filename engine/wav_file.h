// The PCM WAV file of a recording: a 44-byte header, then the samples as captured.
//
// Owned by the engine; between start and stop only the capture worker touches it.
// Audio reaches the disk in stretches of kStageMs: a write costs about as much as the wake-up
// it comes with, whatever its size, and a recorder that writes every buffer spends most of its
// time there. The two size fields are brought up to date every half second of data written, so
// a killed process leaves a valid file that lacks at most the last second. A recording that
// would outgrow the 32-bit sizes continues in a new file beside the first (NAME-2.wav,
// NAME-3.wav, ...), each one complete in itself.
//
// Time the capture device was away is written as digital silence, but at most
// kMaxFillSeconds of it per gap: a longer gap (a machine that slept an hour) ends the file
// after that much silence and the recording continues in the next part, so the break is
// a file boundary rather than hundreds of megabytes of nothing.
#pragma once

#include "engine/capture_device.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kelvo::engine {

class WavFile {
public:
    // Largest data chunk one file may hold; whole frames, RIFF size still fits 32 bits.
    static constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;
    // Most silence one gap may write before the recording moves on to the next part.
    static constexpr std::uint32_t kMaxFillSeconds = 60;
    // How much audio waits in memory before it is written.
    static constexpr std::uint32_t kStageMs = 400;

    WavFile() = default;
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;
    ~WavFile();

    // Creates the file (emptying an existing one) and writes the header with both sizes 0.
    bool create(const char* path, const CaptureFormat& format,
                std::uint64_t maxDataBytes = kMaxDataBytes);
    bool isOpen() const { return fd_ >= 0; }

    // Appends captured bytes, written with the stretch they complete. A short write (a full
    // disk) is cut back to whole frames so later audio stays frame-aligned, and what did not
    // fit is dropped. Returns the bytes taken; a failed write leaves its errno in lastError().
    std::size_t append(const std::uint8_t* data, std::size_t bytes);
    // Appends `frames` frames of digital silence, in chunks from a static buffer.
    std::size_t appendSilence(std::uint64_t frames);
    // Writes what waits; false when the write failed.
    bool flush();
    // Completes this file and continues in the next part; false when that cannot be created.
    bool startNextPart();

    // Completes the sizes and closes: 0, or KELVO_ERR_FILE_SEEK, _WRITE or _CLOSE. A part
    // whose name was deleted or moved away meanwhile is put back under it first (a deleted
    // one is copied, so this then takes as long as the copy).
    int finish();

    // Closes without the final sizes (they are already up to date to the last second).
    void abandon();

    // The current part's data, what waits to be written included.
    std::uint32_t dataBytes() const { return dataBytes_ + static_cast<std::uint32_t>(staged_); }
    // The data that reached the disk, in every part.
    std::uint64_t bytesWritten() const { return bytesWritten_; }
    // How many files this recording has used so far (1 unless it outgrew one file).
    int part() const { return part_; }
    // errno of the last write that failed, 0 while every write succeeded.
    int lastError() const { return lastError_; }

private:
    bool openPart(const char* path);
    void writeSizes();
    std::size_t writeAll(const std::uint8_t* data, std::size_t bytes);
    std::size_t appendPart(const std::uint8_t* data, std::size_t bytes);

    int fd_ = -1;
    CaptureFormat format_{};
    std::uint64_t maxDataBytes_ = kMaxDataBytes;
    std::uint32_t dataBytes_ = 0;
    std::uint32_t bytesSinceSizes_ = 0;
    std::uint64_t bytesWritten_ = 0;
    std::unique_ptr<std::uint8_t[]> stage_; // allocated by create(), never while recording
    std::size_t stageCapacity_ = 0;
    std::size_t staged_ = 0;
    int part_ = 1;
    int lastError_ = 0;
    char basePath_[PATH_MAX] = {};
    char partPath_[PATH_MAX + 16] = {};
};

} // namespace kelvo::engine
