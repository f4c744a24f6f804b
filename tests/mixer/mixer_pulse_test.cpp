// The PulseAudio mixer against a private server of its own per test, read back with pactl.
#include "recorder/mixer/mixer_pulse.h"
#include "recorder/mixer/recording_sources.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QSlider>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) {
            out += buffer;
        }
        pclose(pipe);
    }
    return out;
}

std::string trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

// Each channel's raw volume from "front-left: 32769 /  50% / ..., front-right: ...".
std::vector<long> sourceVolumes(const std::string& source) {
    std::istringstream out(run("pactl get-source-volume " + source));
    std::vector<long> volumes;
    std::string previous;
    for (std::string word; out >> word; previous = word) {
        if (word == "/" && !previous.empty() &&
            std::all_of(previous.begin(), previous.end(), ::isdigit)) {
            volumes.push_back(std::stol(previous));
        }
    }
    return volumes;
}

// Alive and not yet a zombie waiting for whoever adopted it.
bool running(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto end = stat.rfind(')');
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
}

class PulseServer : public testing::Test {
protected:
    void SetUp() override {
        std::istringstream env(run("bash " KELVO_SOURCE_DIR "/scripts/sound-server start"));
        for (std::string line; std::getline(env, line);) {
            auto equals = line.find('=');
            if (line.rfind("export ", 0) != 0 || equals == std::string::npos) {
                continue;
            }
            std::string name = line.substr(7, equals - 7);
            std::string value = line.substr(equals + 1);
            setenv(name.c_str(), value.c_str(), 1);
            if (name == "KELVO_PULSE_PID") {
                pid_ = std::stoi(value);
            }
        }
        ASSERT_GT(pid_, 0) << "the private sound server did not start";
    }
    // A throwaway server: killed rather than waited for through its slow orderly shutdown.
    void TearDown() override {
        if (pid_ > 0 && kill(pid_, SIGKILL) == 0) {
            for (int i = 0; i < 100 && running(pid_); ++i) {
                std::this_thread::sleep_for(10ms);
            }
        }
        if (const char* dir = std::getenv("KELVO_PULSE_DIR")) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    }
    pid_t pid_ = 0;
};

// The window's controls around a started mixer.
struct Window {
    explicit Window(PulseMixer::Options options = {}) : mixer(std::move(options)) {
        started = startMixer(mixer, state, [](const std::string&, const std::string&) {});
        slider.setRange(0, 100);
        slider.setValue(50);
        sources.emplace(state, held, list, slider, webcast);
    }
    PulseMixer mixer;
    MixerState state;
    MixerStartup started;
    HeldMixerSettings held;
    QComboBox list;
    QSlider slider{Qt::Vertical};
    QLineEdit webcast;
    std::optional<RecordingSources> sources;
};

TEST_F(PulseServer, StartUpListsEverySourceInIndexOrder) {
    Window w;
    ASSERT_EQ(w.started, MixerStartup::Ready);
    std::vector<std::string> names;
    std::int32_t previous = 0;
    for (const SourceEntry& entry : w.state.sources) {
        names.push_back(entry.name);
        EXPECT_GT(entry.volumeControlId, previous);
        previous = entry.volumeControlId;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Monitor of Speakers", "Monitor of Headphones",
                                               "Microphone", "Line In"}));
    EXPECT_EQ(w.state.selectionControlId, PulseMixer::kMuxControlId);
}

TEST_F(PulseServer, FirstStartMakesMicrophoneTheDefaultAtHalfVolume) {
    run("pactl set-default-source line_in");
    Window w;
    w.sources->InitializeSources();
    EXPECT_EQ(trimmed(run("pactl get-default-source")), "microphone");
    for (long volume : sourceVolumes("microphone")) {
        EXPECT_NEAR(volume, 32768, 2);
    }
}

TEST_F(PulseServer, ChoosingMonitorOfSpeakersMakesItTheDefault) {
    Window w;
    w.sources->InitializeSources();
    w.list.setCurrentIndex(w.list.findText("Monitor of Speakers"));
    EXPECT_EQ(trimmed(run("pactl get-default-source")), "speakers.monitor");
    EXPECT_EQ(w.sources->selectedSourceName(), "Monitor of Speakers");
}

TEST_F(PulseServer, MovingTheSliderChangesOnlyTheSelectedSourcesVolume) {
    Window w;
    w.sources->InitializeSources();
    w.slider.setValue(10);
    EXPECT_EQ(sourceVolumes("microphone"), (std::vector<long>{58983, 58983}));
    std::uint32_t level = 0;
    EXPECT_EQ(w.mixer.unsignedValue(w.state.sources[2].volumeControlId, level), MixerResult::Ok);
    EXPECT_EQ(level, 58982u);
    EXPECT_EQ(sourceVolumes("line_in"), (std::vector<long>{65536, 65536}));
    EXPECT_EQ(sourceVolumes("speakers.monitor"), (std::vector<long>{65536, 65536}));
}

TEST_F(PulseServer, SourceThatVanishedAfterStartUpIsRefusedNotConfused) {
    std::string module =
        trimmed(run("pactl load-module module-null-source source_name=usb_mic description=USB"));
    Window w;
    w.sources->InitializeSources();
    ASSERT_EQ(w.list.findText("USB"), 4);
    run("pactl unload-module " + module);
    w.list.setCurrentIndex(4);
    EXPECT_FALSE(w.sources->setRecordingSelection(1));
    EXPECT_EQ(trimmed(run("pactl get-default-source")), "microphone");
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

TEST_F(PulseServer, HungServerCostsOneTimeoutAndIsUsedAgainOnceItAnswers) {
    Window w({"", 300ms, 600ms});
    ASSERT_EQ(w.started, MixerStartup::Ready);
    kill(pid_, SIGSTOP);
    auto start = Clock::now();
    EXPECT_FALSE(w.sources->setRecordingSelection(1));
    auto first = Clock::now() - start;
    EXPECT_GE(first, 250ms);
    EXPECT_LT(first, 1s);
    w.sources->applySourceSelection(); // fails at once: the server is known to be stuck
    EXPECT_LT(Clock::now() - start, first + 100ms);

    kill(pid_, SIGCONT);
    auto deadline = Clock::now() + 3s;
    while (!w.sources->setRecordingSelection(1) && Clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(w.mixer.setUnsignedValue(w.state.sources[3].volumeControlId, 0), MixerResult::Ok);
    EXPECT_EQ(sourceVolumes("line_in"), (std::vector<long>{0, 0}));
}

TEST(PulseMixer, NoReachableServerMeansNoMixerDevice) {
    setenv("PULSE_SERVER", "unix:/nonexistent/kelvo-pulse/native", 1);
    PulseMixer mixer;
    EXPECT_EQ(mixer.deviceCount(), 0);
    MixerState state;
    std::string shown;
    EXPECT_EQ(startMixer(mixer, state,
                         [&](const std::string&, const std::string& text) { shown = text; }),
              MixerStartup::NoMixer);
    EXPECT_EQ(shown, "Unable to detect a mixer.\r\n\r\nTerminating...");
}

TEST(PulseMixer, ItemNamesAreCutToWholeCharactersWithinTheField) {
    const std::string a63(63, 'a');
    EXPECT_EQ(PulseMixer::itemName(a63), a63);
    EXPECT_EQ(PulseMixer::itemName(a63 + "b"), a63);
    EXPECT_EQ(PulseMixer::itemName(std::string(62, 'a') + "\xC3\xA9"), std::string(62, 'a'));
    EXPECT_EQ(PulseMixer::itemName(std::string(60, 'a') + "\xE2\x82\xAC"),
              std::string(60, 'a') + "\xE2\x82\xAC");
}

} // namespace
} // namespace kelvo
