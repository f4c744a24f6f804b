#include "recorder/recording/spawn_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace kelvo {

namespace {

// Owns the posix_spawn attribute objects so every return path releases them.
class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool prepare(const std::string& workingFolder) {
        // The child must not read the recorder's terminal, nor inherit a blocked signal
        // mask or ignored signals from whatever started the recorder.
        if (posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) != 0) {
            return false;
        }
        if (!workingFolder.empty() &&
            posix_spawn_file_actions_addchdir_np(&actions_, workingFolder.c_str()) != 0) {
            return false;
        }
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGQUIT);
        return posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
               posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
               posix_spawnattr_setflags(&attributes_,
                                        POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

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
    SpawnSetup setup;
    if (!setup.prepare(workingFolder)) {
        return -1;
    }
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    // posix_spawnp searches PATH only for a bare name, as a shell would.
    if (posix_spawnp(&pid, program.c_str(), setup.actions(), setup.attributes(), argv.data(),
                     environ) != 0) {
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
