// ProcessLauncher on posix_spawn. Each started child is reaped by a detached thread that
// waits for it alone, so no zombies pile up and no SIGCHLD handler is installed behind
// Qt's back.
#pragma once

#include "recorder/platform/process_launcher.h"

namespace kelvo {

class SpawnLauncher : public ProcessLauncher {
public:
    int start(const std::string& program, const std::vector<std::string>& args,
              const std::string& workingFolder) override;
    // The exit descriptor is one end of a socket pair; the reaper sends the wait status
    // through the other and closes it.
    int startWatched(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workingFolder, int& exitFd) override;

private:
    int spawn(const std::string& program, const std::vector<std::string>& args,
              const std::string& workingFolder, int* exitFd);
};

} // namespace kelvo
