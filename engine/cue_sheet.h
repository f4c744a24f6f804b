// The cue sheet beside a stream recording (NAME.cue beside NAME.wav): one track per stream
// title, at the frame of the file where the title began, so a show's tracks can be found.
// It is also the form in which the recorder reads the titles back for its report.
//
// Owned by the engine; between start and stop only the capture worker touches it. It is
// created with its first track, so a stream without titles leaves none; every track is
// appended as it comes, so a killed process leaves every track told so far. Nothing here
// allocates after prepare().
#pragma once

#include <climits>
#include <cstdint>

namespace kelvo::engine {

class CueSheet {
public:
    CueSheet() = default;
    CueSheet(const CueSheet&) = delete;
    CueSheet& operator=(const CueSheet&) = delete;
    ~CueSheet();

    // Names the sheet after the recording at wavPath; false when the name does not fit.
    bool prepare(const char* wavPath);
    bool prepared() const { return cuePath_[0] != '\0'; }

    // A track titled `title` (UTF-8) from `frame` of part `part` (1: NAME.wav, 2: NAME-2.wav).
    // Quotes and control characters in the title are replaced; it is cut at 255 bytes.
    void addTrack(int part, std::uint64_t frame, std::uint32_t sampleRate, const char* title);
    // Closes the sheet and forgets its name.
    void close();

    // errno of the last failed create or write, 0 while all succeeded.
    int lastError() const { return lastError_; }

private:
    void write(const char* text, int length);

    int fd_ = -1;
    int part_ = 0;   // the part the last FILE line named
    int tracks_ = 0; // tracks so far
    int lastError_ = 0;
    char cuePath_[PATH_MAX] = {};
    char wavName_[256] = {}; // NAME.wav, as the FILE lines name it
};

} // namespace kelvo::engine
