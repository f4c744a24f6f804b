// Starting another program without waiting for it: the MP3 encoder after a recording and
// the program that plays a webcast address.
//
// Arguments are handed over one by one, never through a shell command line, so a show name
// or an address with blanks, quotes or "$(...)" reaches the program as one argument and
// runs nothing. The recorder never waits for the program; it may ask to hear when the
// program has ended and how, to judge an encoder and run the next one after it.
#pragma once

#include <unistd.h>

#include <cerrno>

#include <optional>
#include <string>
#include <vector>

namespace kelvo {

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;

    // Starts program (a path, or a bare name looked up on PATH) with args as argv[1...],
    // in workingFolder (empty: the recorder's own). Returns the process id, or -1 when the
    // program could not be started.
    virtual int start(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workingFolder) = 0;

    // Like start(), and sets exitFd to a descriptor that turns readable once the program has
    // ended (the caller closes it), or to -1 when there is none to be had. Reading it then
    // gives the program's wait status (see exitStatusOf) where the launcher knows it.
    virtual int startWatched(const std::string& program, const std::vector<std::string>& args,
                             const std::string& workingFolder, int& exitFd) {
        exitFd = -1;
        return start(program, args, workingFolder);
    }
};

// Once a watched program's exit descriptor is readable: its wait status (as waitpid gives
// it), or none when its launcher could not tell.
inline std::optional<int> exitStatusOf(int exitFd) {
    int status = 0;
    ssize_t got = 0;
    do {
        got = read(exitFd, &status, sizeof status);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof status) ? std::optional<int>(status) : std::nullopt;
}

} // namespace kelvo
