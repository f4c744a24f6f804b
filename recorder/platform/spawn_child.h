// Starting a child program on posix_spawn: arguments one by one (no shell), stdin from
// /dev/null, and the signal mask and the usual terminal signals reset to their defaults, so
// the child inherits nothing odd from whatever started the recorder. Reaping is the
// caller's: the encoder launcher reaps in the background, the desktop tools are waited for.
// Plain C++ without Qt, for every module that starts programs.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kelvo {

struct SpawnOptions {
    std::string workingFolder;  // empty: the recorder's own
    bool discardOutput = false; // stdout and stderr to /dev/null
};

// Starts program (a path, or a bare name looked up on PATH) with args as argv[1...].
// Returns the child's id, or -1 when it could not be started.
pid_t spawnChild(const std::string& program, const std::vector<std::string>& args,
                 const SpawnOptions& options = {});

} // namespace kelvo
