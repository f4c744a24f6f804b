#include "engine/wav_file.h"

#include "kelvo/kelvo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo::engine {
namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool pwriteAll(int fd, const std::uint8_t* data, std::size_t bytes, off_t offset) {
    while (bytes > 0) {
        ssize_t n = ::pwrite(fd, data, bytes, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        bytes -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

// The header's layout: its two size fields are rewritten as the data grows.
constexpr std::size_t kHeaderBytes = 44;
constexpr off_t kRiffSizeAt = 4;
constexpr off_t kDataSizeAt = 40;
// The RIFF chunk's size counts everything after its own size field.
constexpr std::uint32_t kRiffSizeOverData = kHeaderBytes - 8;

// Writes both size fields in place. 0, or the engine's error code.
int writeSizeFields(int fd, std::uint32_t riffBytes, std::uint32_t dataBytes) {
    std::uint8_t v[4];
    put32(v, riffBytes);
    bool written = pwriteAll(fd, v, 4, kRiffSizeAt);
    if (written) {
        put32(v, dataBytes);
        written = pwriteAll(fd, v, 4, kDataSizeAt);
    }
    if (written)
        return 0;
    return errno == ESPIPE ? KELVO_ERR_FILE_SEEK : KELVO_ERR_FILE_WRITE;
}

// Digital silence of each sample width: 0 for signed 16-bit, the midpoint for unsigned 8-bit.
constexpr std::size_t kSilenceBytes = 16384;
const std::array<std::uint8_t, kSilenceBytes> kZero{};
const std::array<std::uint8_t, kSilenceBytes> kMidpoint = [] {
    std::array<std::uint8_t, kSilenceBytes> a{};
    a.fill(0x80);
    return a;
}();

// Creates the folders above `path` that are missing.
void makeParents(const char* path) {
    char folder[PATH_MAX];
    const std::size_t length = std::strlen(path);
    if (length >= sizeof folder)
        return;
    std::memcpy(folder, path, length + 1);
    for (char* p = folder + 1; *p != '\0'; ++p) {
        if (*p != '/')
            continue;
        *p = '\0';
        (void)::mkdir(folder, 0777);
        *p = '/';
    }
}

// Copies everything behind `from` into a new file at `to`; false if `to` exists or a step
// fails (a partial copy is removed).
bool copyInto(int from, const char* to) {
    const int fd = ::open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    off_t offset = 0;
    bool ok = true;
    for (;;) {
        const ssize_t n = ::copy_file_range(from, &offset, fd, nullptr, 1 << 30, 0);
        if (n > 0)
            continue;
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        // A kernel or file system without it: copy by hand.
        std::uint8_t buffer[16384];
        for (;;) {
            const ssize_t r = ::pread(from, buffer, sizeof buffer, offset);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                ok = r == 0;
                break;
            }
            if (!pwriteAll(fd, buffer, static_cast<std::size_t>(r), offset)) {
                ok = false;
                break;
            }
            offset += r;
        }
        break;
    }
    if (::close(fd) != 0 || !ok) {
        ::unlink(to);
        return false;
    }
    return true;
}

// A recording's name deleted, or its folder removed or renamed, while the engine held the
// file open loses nothing: the data is still behind the descriptor, and it goes back under
// its name (a folder that is gone is made again). A link is enough while the file still has
// a name elsewhere; a deleted one is copied. When another file has taken the name meanwhile,
// that file is left alone and the recording goes beside it as NAME-restored.wav.
void restoreName(int fd, const char* path) {
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0)
        return;
    char restored[PATH_MAX + 16];
    if (::stat(path, &named) == 0) {
        if (named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            return;
        const char* dot = std::strrchr(path, '.');
        const char* slash = std::strrchr(path, '/');
        const int stem = (dot != nullptr && (slash == nullptr || dot > slash))
                             ? static_cast<int>(dot - path)
                             : static_cast<int>(std::strlen(path));
        std::snprintf(restored, sizeof restored, "%.*s-restored%s", stem, path, path + stem);
        path = restored;
    }
    makeParents(path);
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (held.st_nlink > 0 && ::linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0)
        return;
    (void)copyInto(fd, path);
}

} // namespace

WavFile::~WavFile() {
    abandon();
}

bool WavFile::create(const char* path, const CaptureFormat& format, std::uint64_t maxDataBytes) {
    abandon();
    if (path == nullptr || std::strlen(path) >= sizeof basePath_)
        return false;
    std::strcpy(basePath_, path);
    format_ = format;
    const std::uint64_t align = std::max<std::uint16_t>(format.blockAlign, 1);
    maxDataBytes_ =
        std::max<std::uint64_t>(align, std::min(maxDataBytes, kMaxDataBytes) / align * align);
    part_ = 1;
    lastError_ = 0;
    bytesWritten_ = 0;
    staged_ = 0;
    const std::uint64_t stage = std::uint64_t{format.avgBytesPerSec} * kStageMs / 1000;
    stageCapacity_ = static_cast<std::size_t>(std::max(align, stage / align * align));
    stage_ = std::make_unique<std::uint8_t[]>(stageCapacity_);
    return openPart(basePath_);
}

bool WavFile::openPart(const char* path) {
    // Readable too: a file whose name is deleted meanwhile is copied back from it.
    fd_ = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        lastError_ = errno;
        return false;
    }
    dataBytes_ = 0;
    bytesSinceSizes_ = 0;

    // Both sizes start at 0, as an empty part's; writeSizeFields() keeps them up to date.
    std::uint8_t h[kHeaderBytes];
    std::memcpy(h, "RIFF", 4);
    put32(h + kRiffSizeAt, 0);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1); // PCM
    put16(h + 22, format_.channels);
    put32(h + 24, format_.sampleRate);
    put32(h + 28, format_.avgBytesPerSec);
    put16(h + 32, format_.blockAlign);
    put16(h + 34, format_.bitsPerSample);
    std::memcpy(h + 36, "data", 4);
    put32(h + kDataSizeAt, 0);
    // Not tested, as before: a file that cannot take its header fails its first size update.
    (void)writeAll(h, sizeof h);
    return true;
}

std::size_t WavFile::writeAll(const std::uint8_t* data, std::size_t bytes) {
    std::size_t done = 0;
    while (done < bytes) {
        ssize_t n = ::write(fd_, data + done, bytes - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            lastError_ = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool WavFile::startNextPart() {
    // The name is built in a fixed buffer, so this path allocates nothing either.
    if (fd_ < 0 || finish() != 0)
        return false;
    ++part_;
    const char* dot = std::strrchr(basePath_, '.');
    const char* slash = std::strrchr(basePath_, '/');
    int stem = (dot != nullptr && (slash == nullptr || dot > slash))
                   ? static_cast<int>(dot - basePath_)
                   : static_cast<int>(std::strlen(basePath_));
    std::snprintf(partPath_, sizeof partPath_, "%.*s-%d%s", stem, basePath_, part_,
                  basePath_ + stem);
    return openPart(partPath_);
}

std::size_t WavFile::append(const std::uint8_t* data, std::size_t bytes) {
    std::size_t total = 0;
    while (fd_ >= 0 && bytes > 0) {
        if (dataBytes() >= maxDataBytes_ && !startNextPart())
            break;
        const std::size_t room =
            std::min<std::uint64_t>(stageCapacity_ - staged_, maxDataBytes_ - dataBytes());
        const std::size_t n = std::min(bytes, room);
        std::memcpy(stage_.get() + staged_, data, n);
        staged_ += n;
        total += n;
        data += n;
        bytes -= n;
        if ((staged_ == stageCapacity_ || dataBytes() >= maxDataBytes_) && !flush())
            break;
    }
    return total;
}

bool WavFile::flush() {
    if (fd_ < 0 || staged_ == 0)
        return fd_ >= 0;
    const std::size_t bytes = staged_;
    staged_ = 0;
    return appendPart(stage_.get(), bytes) == bytes;
}

std::size_t WavFile::appendSilence(std::uint64_t frames) {
    const auto& silence = format_.bitsPerSample == 8 ? kMidpoint : kZero;
    const std::size_t align = std::max<std::uint16_t>(format_.blockAlign, 1);
    const std::size_t step = kSilenceBytes / align * align;
    std::uint64_t bytes = frames * align;
    std::size_t total = 0;
    while (bytes > 0) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, step));
        const std::size_t written = append(silence.data(), chunk);
        total += written;
        if (written < chunk)
            break;
        bytes -= chunk;
    }
    return total;
}

// Writes within the current part; returns the bytes that reached it.
std::size_t WavFile::appendPart(const std::uint8_t* data, std::size_t bytes) {
    std::size_t written = writeAll(data, bytes);
    if (written < bytes) {
        // Keep the data frame-aligned: drop the partial frame that did reach the disk.
        const std::size_t align = std::max<std::uint16_t>(format_.blockAlign, 1);
        written -= written % align;
        if (::ftruncate(fd_, static_cast<off_t>(kHeaderBytes + dataBytes_ + written)) == 0)
            (void)::lseek(fd_, 0, SEEK_END);
        dataBytes_ += static_cast<std::uint32_t>(written);
        bytesWritten_ += written;
        writeSizes();
        return written;
    }
    dataBytes_ += static_cast<std::uint32_t>(written);
    bytesWritten_ += written;
    bytesSinceSizes_ += static_cast<std::uint32_t>(written);
    if (bytesSinceSizes_ >= format_.avgBytesPerSec / 2)
        writeSizes();
    return written;
}

void WavFile::writeSizes() {
    // A failure here shows again at the next update or at finish(), which reports it.
    (void)writeSizeFields(fd_, dataBytes_ + kRiffSizeOverData, dataBytes_);
    bytesSinceSizes_ = 0;
}

int WavFile::finish() {
    if (fd_ < 0)
        return 0;
    (void)flush(); // a failure shows in the sizes, which count only what is there
    int fd = fd_;
    fd_ = -1;
    // The RIFF size is taken from the file's length, which counts a header that is all there
    // is when not even it could be written in full.
    const off_t length = ::lseek(fd, 0, SEEK_END);
    int rc = length < 8 ? KELVO_ERR_FILE_SEEK
                        : writeSizeFields(fd, static_cast<std::uint32_t>(length - 8), dataBytes_);
    restoreName(fd, part_ == 1 ? basePath_ : partPath_);
    if (::close(fd) != 0 && rc == 0)
        rc = KELVO_ERR_FILE_CLOSE;
    return rc;
}

void WavFile::abandon() {
    staged_ = 0;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace kelvo::engine
