// kelvo-rec frozen with SIGSTOP (a stalled desktop) mid-show, beyond the fill bound and across
// its stop, each recording a tone on a private sound server of its own, so these long cases
// run beside the rest of the suite. Each file must span the time from its first captured
// frame to the stop, as the engine's own clock tells them, and the gap must be told once.
#include "wav_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kelvo::engine::testing;
using namespace std::chrono_literals;

namespace {

const std::string kSoundServer = KELVO_SOURCE_DIR "/scripts/sound-server";

std::string output(const std::string& cmd) {
    std::string text;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p))
            text += buf;
        ::pclose(p);
    }
    return text;
}

// A server of the kind the suite runs against, with a tone playing into its speakers.
struct PrivateServer {
    PrivateServer() {
        const char* kind = std::getenv("KELVO_SOUND_SERVER");
        std::istringstream lines(output(kSoundServer + " start " + (kind ? kind : "pulse")));
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("export ", 0) == 0)
                exports += line.substr(7) + " ";
        tone = "/tmp/kelvo-timeline-tone-" + std::to_string(::getpid()) + ".wav";
        if (!exports.empty() &&
            std::system(
                ("sox -q -n -r 48000 -c 2 " + tone + " synth 60 sine 440 vol 0.5").c_str()) == 0)
            player = spawn("paplay -d speakers " + tone, "/dev/null");
    }
    ~PrivateServer() {
        if (player > 0) {
            ::kill(player, SIGKILL);
            ::waitpid(player, nullptr, 0);
        }
        std::remove(tone.c_str());
        if (!exports.empty())
            std::system(("env " + exports + kSoundServer + " stop").c_str());
    }
    // Runs `command` in this server's environment, its standard error into errFile.
    pid_t spawn(const std::string& command, const std::string& errFile) const {
        pid_t pid = ::fork();
        if (pid == 0) {
            int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 2);
            const std::string cmd = "exec env " + exports + command;
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    std::string exports, tone;
    pid_t player = -1;
};

struct Freeze {
    const char* name;
    int showSeconds, frozenAt;
    double frozenFor;
    int maxFill; // 0: the engine's own 60 s
};

// The first channel's RMS over the second from `at`, in full scale.
double rmsAt(const Wav& w, double at) {
    double sum = 0;
    const std::size_t from = static_cast<std::size_t>(at * 44100), to = from + 44100;
    for (std::size_t i = from; i < to && i < w.frames(); ++i) {
        const double v = static_cast<std::int16_t>(w.u16(44 + 4 * i)) / 32768.0;
        sum += v * v;
    }
    return std::sqrt(sum / 44100);
}

double number(const std::string& text, const std::string& after) {
    const std::size_t at = text.find(after);
    return at == std::string::npos ? -1 : std::stod(text.substr(at + after.size()));
}

void PrintTo(const Freeze& f, std::ostream* out) {
    *out << f.name;
}

class FrozenRecorder : public ::testing::TestWithParam<Freeze> {};

} // namespace

TEST_P(FrozenRecorder, KeepsTheShowsTimeline) {
    const Freeze f = GetParam();
    PrivateServer server;
    ASSERT_GT(server.player, 0) << "no private sound server";
    std::this_thread::sleep_for(2500ms); // an idle null sink renders in two-second blocks
    const std::string file = "/tmp/kelvo-timeline-" + std::to_string(::getpid()) + ".wav",
                      part2 = file.substr(0, file.size() - 4) + "-2.wav", errFile = file + ".err";
    std::string command = KELVO_REC " --test-report-clock --source speakers.monitor --seconds " +
                          std::to_string(f.showSeconds) + " ";
    if (f.maxFill > 0)
        // The test build of the engine, preloaded, answers kelvo-rec's calls instead; under
        // AddressSanitizer its runtime then comes second, which is fine here.
        command = "ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" "
                  "LD_PRELOAD=" KELVO_TESTHOOKS_LIBRARY " " +
                  command + "--test-max-fill " + std::to_string(f.maxFill) + " ";
    const pid_t rec = server.spawn(command + file, errFile);
    std::this_thread::sleep_for(std::chrono::seconds(f.frozenAt));
    ::kill(rec, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::duration<double>(f.frozenFor));
    ::kill(rec, SIGCONT);
    int status = 0;
    ::waitpid(rec, &status, 0);
    std::ifstream in(errFile);
    const std::string err{std::istreambuf_iterator<char>(in), {}};
    std::remove(errFile.c_str());
    std::printf("%s", err.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    Wav first = readWav(file), second = readWav(part2);
    std::remove(file.c_str());
    std::remove(part2.c_str());
    expectComplete(first, 2, 44100);
    const double firstNs = number(err, "timeline from "), stopNs = number(err, " ns to ");
    ASSERT_GT(firstNs, 0) << "no timeline reported";
    const double rule = (stopNs - firstNs) / 1e9;
    // How much of a frozen recorder's time the server keeps for it varies (it may hand over
    // seconds of references to shared memory before its own queue fills): all of it is no gap.
    const double gap = std::max(0.0, number(err, "interrupted for "));
    EXPECT_TRUE(gap > 0 || err.find("silence") == std::string::npos) << "a gap, told once";
    EXPECT_LE(gap, f.frozenFor + 0.3);
    if (f.frozenFor < 2) {
        EXPECT_EQ(gap, 0) << "the server kept all of a short freeze";
    }
    EXPECT_EQ(err.find("device back"), std::string::npos);
    EXPECT_EQ(err.find("capture device lost"), std::string::npos) << "the device never went";
    if (f.frozenAt + f.frozenFor > f.showSeconds) {
        EXPECT_GT(gap, 0) << "a freeze into the stop is filled up to it, and told";
    }
    double seconds = first.frames() / 44100.0;
    if (f.maxFill > 0 && gap > f.maxFill) {
        // Silence up to the bound ends the part; the audio after the freeze opens the next.
        expectComplete(second, 2, 44100);
        seconds += second.frames() / 44100.0 + (gap - f.maxFill);
        EXPECT_GT(rmsAt(second, 0), 0.25) << "the next part starts with the audio";
    } else {
        EXPECT_EQ(second.fileSize, 0u) << "one part only";
    }
    std::printf("%s: %.2f s recorded (rule %.2f s, gap %.1f s)\n", f.name, seconds, rule, gap);
    EXPECT_NEAR(seconds, rule, 0.3);
    EXPECT_GT(rmsAt(first, 0.5), 0.25) << "the tone before the freeze";
    const Wav& last = second.fileSize > 0 ? second : first;
    if (f.frozenAt + f.frozenFor < f.showSeconds) {
        EXPECT_GT(rmsAt(last, last.frames() / 44100.0 - 1.2), 0.25) << "the tone after the freeze";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sigstop, FrozenRecorder,
    ::testing::Values(Freeze{"1.5 s mid-show", 8, 3, 1.5, 0}, Freeze{"8 s mid-show", 14, 4, 8, 0},
                      Freeze{"15 s mid-show", 21, 3, 15, 0},
                      // 70 s against the engine's 60 s bound, scaled down to 9 s against 1 s
                      // (the server keeps a few seconds of the frozen time itself).
                      Freeze{"beyond the fill bound", 14, 3, 9, 1},
                      Freeze{"30 s across the stop", 6, 3, 30, 0}),
    [](const ::testing::TestParamInfo<Freeze>& param) {
        std::string name = param.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });
