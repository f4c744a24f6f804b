// Hands a finished WAV recording to encoder.bat, the user's script that makes the MP3.
//
// The script gets exactly three arguments: the bit rate, the WAV file's name relative to
// the data folder, and the MP3 name (the WAV name with ".mp3" appended). It runs in the
// data folder so those relative names resolve whatever the recorder's own current folder
// is. The recorder never waits for it; the encoder queue watches how it ends.
#pragma once

#include "recorder/platform/process_launcher.h"

#include <string>
#include <vector>

namespace kelvo {

inline constexpr const char* kEncoderScript = "encoder.bat";

// The MP3 quality entry cut before its first blank: "64 Kb/sec" gives "64". A text with no
// blank has nothing to cut and is passed whole, so the script sees what the user chose.
std::string bitRateOf(const std::string& mp3Quality);

class EncoderLauncher {
public:
    // scriptFolders are searched in order for encoder.bat, which runs by its absolute path.
    // Never from PATH: any encoder.bat earlier on it would run after every MP3 recording.
    EncoderLauncher(ProcessLauncher& launcher, std::string workingFolder,
                    std::vector<std::string> scriptFolders);

    // The encoder.bat that would run, or empty when none of the folders holds one.
    std::string script() const;
    const std::vector<std::string>& scriptFolders() const { return scriptFolders_; }
    // Returns the encoder's process id, or -1 when it could not be started.
    int run(const std::string& bitRate, const std::string& wavName);
    // Like run(), and sets exitFd as ProcessLauncher::startWatched does.
    int runWatched(const std::string& bitRate, const std::string& wavName, int& exitFd);

    // Where the script runs: the names it is given are relative to this folder.
    const std::string& workingFolder() const { return workingFolder_; }

private:
    int runWith(const std::string& bitRate, const std::string& wavName, int* exitFd);
    int launch(const std::string& program, const std::vector<std::string>& args, int* exitFd);

    ProcessLauncher& launcher_;
    std::string workingFolder_;
    std::vector<std::string> scriptFolders_;
};

} // namespace kelvo
