// The engine library, loaded by name as the recorder loads it, recording a tone played
// into a sink of the private PulseAudio server and captured from that sink's monitor.
#include "wav_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace kelvo::engine::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kToneHz = 440;
constexpr double kToneAmplitude = 0.5; // of full scale

struct Library {
    void* handle;
    template <typename F> F* symbol(const char* name) {
        return handle ? reinterpret_cast<F*>(dlsym(handle, name)) : nullptr;
    }
    explicit Library(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    int (*initialize)() = symbol<int()>("KelvoInitialize");
    int (*start)(int, std::uint32_t, std::uint32_t, const char*) =
        symbol<int(int, std::uint32_t, std::uint32_t, const char*)>("KelvoStartMonitorA");
    int (*stop)() = symbol<int()>("KelvoStopMonitor");
    int (*left)() = symbol<int()>("KelvoPeakGetValueLeft");
    int (*right)() = symbol<int()>("KelvoPeakGetValueRight");
    void (*stall)(int) = symbol<void(int)>("KelvoTestStallWorkerOnce");
    bool complete() const { return initialize && start && stop && left && right; }
};

int run(const std::string& command) {
    return std::system(command.c_str());
}

// Plays a tone into the sink "speakers" for as long as it lives.
class Tone {
public:
    Tone() {
        run("sox -q -n -r 48000 -c 2 " + path_ + " synth 30 sine " + std::to_string(kToneHz) +
            " vol " + std::to_string(kToneAmplitude) + " && (paplay -d speakers " + path_ + " &)");
        // An idle null sink renders two-second blocks; its latency drops to what the
        // streams ask for only once the block under way is done.
        std::this_thread::sleep_for(2200ms);
    }
    ~Tone() {
        run("pkill -f 'paplay -d speakers " + path_ + "'");
        fs::remove(path_);
    }

private:
    std::string path_ = "/tmp/kelvo-tone-" + std::to_string(getpid()) + ".wav";
};

class EnginePulse : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        run("pactl set-default-source speakers.monitor && pactl set-sink-volume speakers 100% "
            "&& pactl set-source-volume speakers.monitor 100%");
    }
    static void TearDownTestSuite() { run("pactl set-default-source microphone"); }
    void SetUp() override {
        ASSERT_EQ(run("pactl info >/dev/null 2>&1"), 0)
            << "no sound server reachable (scripts/test starts a private one)";
    }

    struct Take {
        WavContents wav;
        double wallSeconds = 0;
        double startSeconds = 0;
        double stopSeconds = 0;
        int maxPeakLeft = 0;
        int maxPeakRight = 0;
    };

    static Take record(Library& lib, std::uint32_t channels, std::uint32_t rate,
                       std::chrono::milliseconds length, int stallMs = 0) {
        Take take;
        std::string path = "/tmp/kelvo-pulse-" + std::to_string(getpid()) + ".wav";
        lib.initialize();
        auto began = Clock::now();
        EXPECT_EQ(lib.start(1, channels, rate, path.c_str()), 0);
        take.startSeconds = std::chrono::duration<double>(Clock::now() - began).count();
        if (stallMs > 0) {
            std::this_thread::sleep_for(300ms);
            lib.stall(stallMs);
        }
        while (Clock::now() - began < length) {
            std::this_thread::sleep_for(50ms);
            take.maxPeakLeft = std::max(take.maxPeakLeft, lib.left());
            take.maxPeakRight = std::max(take.maxPeakRight, lib.right());
        }
        auto stopping = Clock::now();
        EXPECT_EQ(lib.stop(), 0);
        take.stopSeconds = std::chrono::duration<double>(Clock::now() - stopping).count();
        take.wallSeconds = std::chrono::duration<double>(Clock::now() - began).count();
        // Generous bounds only; the figures themselves are printed for the record.
        EXPECT_LT(take.startSeconds, 1.0);
        EXPECT_LT(take.stopSeconds, 1.0);
        std::printf("start took %.1f ms, stop took %.1f ms\n", take.startSeconds * 1000,
                    take.stopSeconds * 1000);
        take.wav = readWav(path);
        fs::remove(path);
        return take;
    }
};

void expectTone(const WavContents& w) {
    // The first channel, as fractions of full scale.
    std::vector<double> s;
    for (std::size_t i = 0; i < w.dataSize() / w.blockAlign(); ++i)
        s.push_back(w.blockAlign() == 1 ? (w.data()[i] - 128) / 128.0
                                        : static_cast<std::int16_t>(w.u16(44 + 4 * i)) / 32768.0);
    const std::size_t rate = w.sampleRate();
    ASSERT_GT(s.size(), rate) << "less than a second of audio";
    // Skip the first 200 ms, where the tone may still be on its way through the server.
    std::size_t from = rate / 5, crossings = 0;
    double peak = 0;
    for (std::size_t i = from + 1; i < s.size(); ++i) {
        peak = std::max(peak, std::abs(s[i]));
        crossings += (s[i - 1] < 0) != (s[i] < 0);
    }
    double seconds = static_cast<double>(s.size() - from) / rate;
    EXPECT_NEAR(peak, kToneAmplitude, 0.05);
    EXPECT_NEAR(crossings / 2.0 / seconds, kToneHz, kToneHz * 0.03);
}

} // namespace

TEST_F(EnginePulse, RecordsTheToneInEveryFormatWithTheWallClocksDuration) {
    Library lib(KELVO_LIBRARY);
    ASSERT_TRUE(lib.complete()) << dlerror();
    Tone tone;
    for (auto [channels, rate] :
         {std::pair<std::uint32_t, std::uint32_t>{2, 44100}, {2, 22000}, {1, 48000}, {1, 11000}}) {
        SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate));
        Take t = record(lib, channels, rate, 1500ms);
        const WavContents& w = t.wav;
        ASSERT_TRUE(w.headerIsCanonical());
        EXPECT_EQ(w.channels(), channels);
        EXPECT_EQ(w.sampleRate(), rate);
        EXPECT_EQ(w.bitsPerSample(), 8 * channels);
        EXPECT_EQ(w.blockAlign(), channels * channels);
        EXPECT_EQ(w.avgBytesPerSec(), rate * channels * channels);
        EXPECT_EQ(w.riffSize(), w.bytes.size() - 8);
        EXPECT_EQ(w.dataSize(), w.dataOnDisk());
        double duration = static_cast<double>(w.dataSize()) / w.avgBytesPerSec();
        EXPECT_NEAR(duration, t.wallSeconds, 0.150);
        expectTone(w);
        // The peaks the meters read: the tone's level, in 16-bit units.
        const int expected = static_cast<int>(kToneAmplitude * 32767);
        EXPECT_NEAR(t.maxPeakLeft, expected, expected * 0.08);
        EXPECT_NEAR(t.maxPeakRight, expected, expected * 0.08);
    }
}

TEST_F(EnginePulse, AWorkerStallOfOneAndAHalfSecondsLeavesNoGap) {
    Library lib(KELVO_TESTHOOKS_LIBRARY);
    ASSERT_TRUE(lib.complete() && lib.stall != nullptr) << dlerror();
    Tone tone;
    Take t = record(lib, 2, 44100, 3000ms, 1500);
    double duration = static_cast<double>(t.wav.dataSize()) / t.wav.avgBytesPerSec();
    EXPECT_NEAR(duration, t.wallSeconds, 0.150);
    expectTone(t.wav);
}
