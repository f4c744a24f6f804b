#include "recorder/platform/spawn_launcher.h"

#include "recorder/platform/spawn_child.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace kelvo {

namespace {

void reapInBackground(pid_t pid) {
    std::thread([pid] {
        while (waitpid(pid, nullptr, 0) == -1 && errno == EINTR) {
        }
    }).detach();
}

} // namespace

int SpawnLauncher::start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder) {
    return spawn(program, args, workingFolder, nullptr);
}

int SpawnLauncher::startWatched(const std::string& program, const std::vector<std::string>& args,
                                const std::string& workingFolder, int& exitFd) {
    exitFd = -1;
    return spawn(program, args, workingFolder, &exitFd);
}

int SpawnLauncher::spawn(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder, int* exitFd) {
    SpawnOptions options;
    options.workingFolder = workingFolder;
    const pid_t pid = spawnChild(program, args, options);
    if (pid < 0) {
        return -1;
    }
    if (exitFd != nullptr) {
        // The child cannot be reaped before the reaper starts, so the id is still its own.
        *exitFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        if (*exitFd >= 0) {
            fcntl(*exitFd, F_SETFD, FD_CLOEXEC);
        }
    }
    reapInBackground(pid);
    return pid;
}

} // namespace kelvo
