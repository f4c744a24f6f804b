#include "recorder/platform/spawn_child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

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

    bool prepare(const SpawnOptions& options) {
        // The child must not read the recorder's terminal, nor inherit a blocked signal
        // mask or ignored signals from whatever started the recorder.
        if (posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) != 0) {
            return false;
        }
        if (options.discardOutput &&
            (posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0) != 0 ||
             posix_spawn_file_actions_adddup2(&actions_, 1, 2) != 0)) {
            return false;
        }
        if (!options.workingFolder.empty() &&
            posix_spawn_file_actions_addchdir_np(&actions_, options.workingFolder.c_str()) != 0) {
            return false;
        }
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGXFSZ);
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

} // namespace

pid_t spawnChild(const std::string& program, const std::vector<std::string>& args,
                 const SpawnOptions& options) {
    SpawnSetup setup;
    if (!setup.prepare(options)) {
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
    return pid;
}

} // namespace kelvo
