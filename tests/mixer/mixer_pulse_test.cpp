// The PulseAudio mixer against a private server of its own per test, read back with pactl.
#include "recorder/mixer/mixer_pulse.h"
#include "tests/mixer/mixer_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>
#include <utility>

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The command's output without its trailing line break.
std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        for (int c; (c = std::fgetc(pipe)) != EOF;) {
            out += static_cast<char>(c);
        }
        pclose(pipe);
    }
    return out.substr(0, out.find_last_not_of('\n') + 1);
}

// The raw volume of each of the source's channels, one a line.
std::string sourceVolumes(const std::string& source) {
    return run("pactl get-source-volume " + source + " | grep -oP '(?<=: )[0-9]+(?= /)'");
}

class PulseServer : public testing::Test {
protected:
    void SetUp() override {
        std::istringstream env(run("eval \"$(" KELVO_SOURCE_DIR "/scripts/sound-server start)\" && "
                                   "echo $PULSE_SERVER $KELVO_PULSE_PID $KELVO_PULSE_DIR"));
        std::string server;
        ASSERT_TRUE(env >> server >> pid_ >> dir_) << "the private sound server did not start";
        setenv("PULSE_SERVER", server.c_str(), 1);
    }
    // A throwaway server: killed rather than waited for through its slow orderly shutdown.
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    pid_t pid_ = 0;
    std::string dir_;
};

TEST_F(PulseServer, StartUpListsEverySourceAndTheWindowChoosesOneLeavingTheDefaultAlone) {
    run("pactl set-default-source line_in");
    PulseMixer mixer;
    MixerWindow w(mixer);
    ASSERT_EQ(w.started, MixerStartup::Ready);
    EXPECT_EQ(w.state.selectionControlId, PulseMixer::kMuxControlId);
    std::vector<std::string> names;
    std::int32_t previous = 0;
    for (const SourceEntry& entry : w.state.sources) {
        names.push_back(entry.name);
        EXPECT_GT(entry.volumeControlId, std::exchange(previous, entry.volumeControlId));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Monitor of Speakers", "Monitor of Headphones",
                                               "Microphone", "Line In"}));
    // The recorder's choice is its own: the server's default stays what the user made it.
    EXPECT_EQ(run("pactl get-default-source"), "line_in");
    EXPECT_EQ(mixer.chosenSource(), "microphone");
    EXPECT_EQ(sourceVolumes("microphone"), "32769\n32769"); // half of 65536, rounded up

    w.slider.setValue(10);
    EXPECT_EQ(sourceVolumes("microphone"), "58983\n58983");
    EXPECT_EQ(sourceVolumes("line_in"), "65536\n65536");
    EXPECT_EQ(sourceVolumes("speakers.monitor"), "65536\n65536");

    w.list.setCurrentIndex(w.list.findText("Monitor of Speakers"));
    EXPECT_EQ(run("pactl get-default-source"), "line_in");
    EXPECT_EQ(mixer.chosenSource(), "speakers.monitor");
    std::vector<std::int32_t> on;
    ASSERT_EQ(mixer.booleanValues(PulseMixer::kMuxControlId, 4, on), MixerResult::Ok);
    EXPECT_EQ(on, (std::vector<std::int32_t>{1, 0, 0, 0})) << "the MUX reads back the choice";
    EXPECT_EQ(sourceVolumes("speakers.monitor"), "58983\n58983");
    EXPECT_EQ(w.sources->selectedSourceName(), "Monitor of Speakers");
}

TEST_F(PulseServer, KilledServerAnswersWithAnErrorWithinTheTimeout) {
    PulseMixer mixer({"", 500ms, 0ms});
    ASSERT_EQ(mixer.open(0), MixerResult::Ok);
    kill(pid_, SIGKILL);
    std::this_thread::sleep_for(100ms);
    auto start = Clock::now();
    std::vector<std::int32_t> values;
    EXPECT_EQ(mixer.booleanValues(PulseMixer::kMuxControlId, 4, values), MixerResult::Unreachable);
    EXPECT_EQ(mixer.setUnsignedValue(PulseMixer::volumeControlId(0), 100),
              MixerResult::Unreachable);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(mixer.deviceCount(), 0);
}

TEST(PulseMixer, NoReachableServerMeansNoMixerDevice) {
    setenv("PULSE_SERVER", "unix:/nonexistent/kelvo-pulse/native", 1);
    PulseMixer mixer;
    EXPECT_EQ(mixer.deviceCount(), 0);
    EXPECT_EQ(MixerWindow(mixer).shown,
              "Kelvo Mixer - Error|Unable to detect a mixer.\r\n\r\nTerminating...");
}

} // namespace
} // namespace kelvo
