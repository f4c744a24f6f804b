#include "engine/cue_sheet.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kelvo::engine {
namespace {

// The file of part `part`: NAME.wav, NAME-2.wav, ... as the WAV writer names them.
int partName(char* out, std::size_t size, const char* wavName, int part) {
    if (part <= 1)
        return std::snprintf(out, size, "%s", wavName);
    const char* dot = std::strrchr(wavName, '.');
    const int stem =
        dot != nullptr ? static_cast<int>(dot - wavName) : static_cast<int>(std::strlen(wavName));
    return std::snprintf(out, size, "%.*s-%d%s", stem, wavName, part, wavName + stem);
}

// The title as a cue sheet can hold it: no quote ends it early, no line break splits it,
// and a cut never halves a UTF-8 character.
void cleanTitle(const char* in, char* out, std::size_t size) {
    std::size_t n = 0;
    for (; in[n] != '\0' && n + 1 < size; ++n) {
        const auto c = static_cast<unsigned char>(in[n]);
        out[n] = c == '"' ? '\'' : (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
    }
    // Cut inside a character: its first bytes go too.
    if (in[n] != '\0')
        while (n > 0 && (static_cast<unsigned char>(in[n]) & 0xC0) == 0x80)
            --n;
    out[n] = '\0';
}

} // namespace

CueSheet::~CueSheet() {
    close();
}

bool CueSheet::prepare(const char* wavPath) {
    close();
    lastError_ = 0;
    const char* slash = std::strrchr(wavPath, '/');
    const char* name = slash != nullptr ? slash + 1 : wavPath;
    const char* dot = std::strrchr(name, '.');
    const int stem = static_cast<int>((dot != nullptr ? dot : name + std::strlen(name)) - wavPath);
    if (std::strlen(name) >= sizeof wavName_ ||
        std::snprintf(cuePath_, sizeof cuePath_, "%.*s.cue", stem, wavPath) >=
            static_cast<int>(sizeof cuePath_)) {
        cuePath_[0] = '\0';
        return false;
    }
    std::strcpy(wavName_, name);
    return true;
}

void CueSheet::write(const char* text, int length) {
    for (int done = 0; fd_ >= 0 && done < length;) {
        const ssize_t n = ::write(fd_, text + done, static_cast<std::size_t>(length - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            lastError_ = n < 0 ? errno : EIO;
            return;
        }
        done += static_cast<int>(n);
    }
}

void CueSheet::addTrack(int part, std::uint64_t frame, std::uint32_t sampleRate,
                        const char* title) {
    if (!prepared() || sampleRate == 0)
        return;
    if (fd_ < 0) {
        fd_ = ::open(cuePath_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            lastError_ = errno;
            cuePath_[0] = '\0'; // tried once; the recording goes on without it
            return;
        }
    }
    char text[1024];
    int length = 0;
    if (part != part_) {
        char file[300];
        partName(file, sizeof file, wavName_, part);
        length = std::snprintf(text, sizeof text, "FILE \"%s\" WAVE\n", file);
        write(text, length);
        part_ = part;
    }
    char clean[256];
    cleanTitle(title, clean, sizeof clean);
    // Cue sheets count in CD frames, 75 to the second.
    const std::uint64_t cd = frame * 75 / sampleRate;
    length = std::snprintf(
        text, sizeof text,
        "  TRACK %02d AUDIO\n    TITLE \"%s\"\n    INDEX 01 %02llu:%02llu:%02llu\n", ++tracks_,
        clean, static_cast<unsigned long long>(cd / 75 / 60),
        static_cast<unsigned long long>(cd / 75 % 60), static_cast<unsigned long long>(cd % 75));
    write(text, length);
}

void CueSheet::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    part_ = 0;
    tracks_ = 0;
    cuePath_[0] = '\0';
}

} // namespace kelvo::engine
