// What a recording leaves behind when its process dies or its disk fills up.
#include "wav_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;
using namespace kelvo::engine::testing;
using namespace std::chrono_literals;

extern char** environ;

namespace {

pid_t spawnRecorder(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string exe = RECORDER_EXE;
    argv.push_back(exe.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

std::string tempFile(const char* name) {
    return (fs::temp_directory_path() / (std::to_string(::getpid()) + name)).string();
}

} // namespace

TEST(CrashSafety, AKilledRecordingLeavesAValidFileMissingAtMostASecond) {
    const std::string path = tempFile("-killed.wav");
    pid_t pid = spawnRecorder({path});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(3000ms);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);

    auto w = readWav(path);
    ASSERT_TRUE(w.headerIsCanonical());
    // The sizes are those of the last update, so they claim no byte that is not there.
    EXPECT_EQ(w.riffSize(), w.dataSize() + 36);
    EXPECT_LE(w.dataSize(), w.dataOnDisk());
    EXPECT_EQ(w.dataSize() % 4, 0u);
    const double claimed = w.dataSize() / 32000.0;
    EXPECT_GE(claimed, 3.0 - 1.6) << "more than about a second is missing";
    if (std::system("command -v sox >/dev/null 2>&1") == 0) {
        std::string cmd = "sox '" + path + "' -n stat 2>/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << "sox cannot read the file";
    }
    fs::remove(path);
}

TEST(CrashSafety, AFullDiskKeepsTheFileValidAndFrameAligned) {
    const std::string path = tempFile("-full.wav");
    // Room for the header and a bit more than two buffers, ending mid-frame.
    pid_t pid = spawnRecorder({path, "--seconds", "0.6", "--file-limit", "3287"});
    ASSERT_GT(pid, 0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    auto w = readWav(path);
    ASSERT_TRUE(w.headerIsCanonical());
    EXPECT_EQ(w.riffSize(), w.bytes.size() - 8);
    EXPECT_EQ(w.dataSize(), w.dataOnDisk()) << "the count holds only bytes on the disk";
    EXPECT_EQ(w.dataSize() % 4, 0u);
    EXPECT_GT(w.dataSize(), 0u);
    fs::remove(path);
}
