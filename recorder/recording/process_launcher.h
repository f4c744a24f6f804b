// Starting another program without waiting for it: the MP3 encoder after a recording and
// the program that plays a webcast address.
//
// Arguments are handed over one by one, never through a shell command line, so a show name
// or an address with blanks, quotes or "$(...)" reaches the program as one argument and
// runs nothing. The recorder neither waits for the program nor looks at its outcome.
#pragma once

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
};

} // namespace kelvo
