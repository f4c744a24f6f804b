#include "recorder/recording/encoder_launcher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace kelvo {

namespace {

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

std::string bitRateOf(const std::string& mp3Quality) {
    return mp3Quality.substr(0, mp3Quality.find(' '));
}

EncoderLauncher::EncoderLauncher(ProcessLauncher& launcher, std::string workingFolder,
                                 std::vector<std::string> scriptFolders)
    : launcher_(launcher), workingFolder_(std::move(workingFolder)),
      scriptFolders_(std::move(scriptFolders)) {}

int EncoderLauncher::run(const std::string& bitRate, const std::string& wavName) {
    return runWith(bitRate, wavName, nullptr);
}

int EncoderLauncher::runWatched(const std::string& bitRate, const std::string& wavName,
                                int& exitFd) {
    exitFd = -1;
    return runWith(bitRate, wavName, &exitFd);
}

int EncoderLauncher::launch(const std::string& program, const std::vector<std::string>& args,
                            int* exitFd) {
    if (exitFd == nullptr) {
        return launcher_.start(program, args, workingFolder_);
    }
    return launcher_.startWatched(program, args, workingFolder_, *exitFd);
}

std::string EncoderLauncher::script() const {
    for (const std::string& folder : scriptFolders_) {
        if (const std::string script = folder + "/" + kEncoderScript;
            folder.starts_with('/') && isRegularFile(script)) {
            return script;
        }
    }
    return {};
}

int EncoderLauncher::runWith(const std::string& bitRate, const std::string& wavName, int* exitFd) {
    std::vector<std::string> args{bitRate, wavName, wavName + ".mp3"};
    const std::string found = script();
    if (found.empty()) {
        return -1;
    }
    if (access(found.c_str(), X_OK) == 0) {
        return launch(found, args, exitFd);
    }
    // A script copied without its executable bit (a download, a FAT stick) still runs.
    args.insert(args.begin(), found);
    return launch("/bin/sh", args, exitFd);
}

} // namespace kelvo
