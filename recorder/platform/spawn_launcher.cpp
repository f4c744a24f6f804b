#include "recorder/platform/spawn_launcher.h"

#include "recorder/platform/spawn_child.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace kelvo {

namespace {

// statusFd (-1: none) gets the wait status and is closed. A watcher that closed its end
// first only makes the send fail, never raises SIGPIPE.
void reapInBackground(pid_t pid, int statusFd) {
    std::thread([pid, statusFd] {
        int status = 0;
        pid_t reaped = 0;
        while ((reaped = waitpid(pid, &status, 0)) == -1 && errno == EINTR) {
        }
        if (statusFd >= 0) {
            if (reaped == pid) {
                send(statusFd, &status, sizeof status, MSG_NOSIGNAL);
            }
            close(statusFd);
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
    int ends[2] = {-1, -1};
    // Close-on-exec: the child must not hold the status end open itself.
    if (exitFd != nullptr && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        ends[0] = ends[1] = -1;
    }
    const pid_t pid = spawnChild(program, args, options);
    if (pid < 0) {
        for (const int end : ends) {
            if (end >= 0) {
                close(end);
            }
        }
        return -1;
    }
    if (exitFd != nullptr) {
        *exitFd = ends[0];
    }
    reapInBackground(pid, ends[1]);
    return pid;
}

} // namespace kelvo
