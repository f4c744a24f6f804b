// The engine library, loaded by name as the recorder loads it, recording a tone played
// into a sink of the private PulseAudio server and captured from that sink's monitor.
#include "wav_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <thread>
#include <unistd.h>

using namespace kelvo::engine::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kToneHz = 440;
constexpr double kToneAmplitude = 0.5; // of full scale

struct Library {
    explicit Library(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    template <typename F> F* symbol(const char* name) {
        return handle ? reinterpret_cast<F*>(dlsym(handle, name)) : nullptr;
    }
    void* handle;
    int (*initialize)() = symbol<int()>("KelvoInitialize");
    int (*start)(int, std::uint32_t, std::uint32_t, const char*) =
        symbol<int(int, std::uint32_t, std::uint32_t, const char*)>("KelvoStartMonitorA");
    int (*stop)() = symbol<int()>("KelvoStopMonitor");
    int (*left)() = symbol<int()>("KelvoPeakGetValueLeft");
    int (*right)() = symbol<int()>("KelvoPeakGetValueRight");
    void (*stall)(int) = symbol<void(int)>("KelvoTestStallWorkerOnce");
    bool complete() const { return initialize && start && stop && left && right; }
};

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Plays a tone into the sink "speakers" and records from its monitor for as long as it lives.
struct Tone {
    const std::string file = "/tmp/kelvo-tone-" + std::to_string(getpid()) + ".wav";
    const std::string player = "paplay -d speakers " + file;
    const int rc = std::system(
        ("pactl set-default-source speakers.monitor && pactl set-sink-volume speakers 100% && "
         "pactl set-source-volume speakers.monitor 100% && sox -q -n -r 48000 -c 2 " +
         file + " synth 30 sine " + std::to_string(kToneHz) + " vol " +
         std::to_string(kToneAmplitude) + " && (" + player + " &)")
            .c_str());
    ~Tone() {
        std::system(("pkill -f '" + player + "'; pactl set-default-source microphone").c_str());
        std::remove(file.c_str());
    }
};

// Records for `length` and checks the file, its duration against the wall clock, the
// tone in it and the peaks read meanwhile.
void record(Library& lib, unsigned channels, unsigned rate, std::chrono::milliseconds length,
            int stallMs = 0) {
    const std::string path = "/tmp/kelvo-pulse-" + std::to_string(getpid()) + ".wav";
    int left = 0, right = 0;
    lib.initialize();
    auto began = Clock::now();
    EXPECT_EQ(lib.start(1, channels, rate, path.c_str()), 0);
    const double startSeconds = secondsSince(began);
    if (stallMs > 0) {
        std::this_thread::sleep_for(300ms);
        lib.stall(stallMs);
    }
    while (Clock::now() - began < length) {
        std::this_thread::sleep_for(50ms);
        left = std::max(left, lib.left());
        right = std::max(right, lib.right());
    }
    auto stopping = Clock::now();
    EXPECT_EQ(lib.stop(), 0);
    const double stopSeconds = secondsSince(stopping), wallSeconds = secondsSince(began);
    // Generous bounds only; the figures themselves are printed for the record.
    EXPECT_TRUE(startSeconds < 1.0 && stopSeconds < 1.0);
    std::printf("start took %.1f ms, stop took %.1f ms\n", startSeconds * 1000, stopSeconds * 1000);
    // The meters read the tone's level, in 16-bit units.
    const int expected = static_cast<int>(kToneAmplitude * 32767);
    EXPECT_NEAR(left, expected, expected * 0.08);
    EXPECT_NEAR(right, expected, expected * 0.08);

    Wav w = readWav(path);
    std::remove(path.c_str());
    expectComplete(w, channels, rate);
    EXPECT_NEAR(static_cast<double>(w.dataSize()) / w.u32(28), wallSeconds, 0.150);
    ASSERT_GT(w.frames(), rate) << "less than a second of audio";
    // The first channel, from 200 ms on: the tone may still be on its way before that.
    auto sample = [&w](std::size_t i) {
        return w.blockAlign() == 1 ? (w.b[44 + i] - 128) / 128.0
                                   : static_cast<std::int16_t>(w.u16(44 + 4 * i)) / 32768.0;
    };
    std::size_t from = rate / 5, crossings = 0;
    double peak = 0;
    for (std::size_t i = from + 1; i < w.frames(); ++i) {
        peak = std::max(peak, std::abs(sample(i)));
        crossings += (sample(i - 1) < 0) != (sample(i) < 0);
    }
    EXPECT_NEAR(peak, kToneAmplitude, 0.05);
    const double seconds = static_cast<double>(w.frames() - from) / rate;
    EXPECT_NEAR(crossings / 2.0 / seconds, kToneHz, kToneHz * 0.03);
}

} // namespace

TEST(EnginePulse, RecordsTheToneInEveryFormatForTheWallClocksDurationEvenPastAStall) {
    Tone tone;
    ASSERT_EQ(tone.rc, 0) << "no sound server reachable";
    // An idle null sink renders two-second blocks; its latency drops to what the streams
    // ask for only once the block under way is done.
    std::this_thread::sleep_for(2200ms);
    Library lib(KELVO_LIBRARY), hooks(KELVO_TESTHOOKS_LIBRARY);
    ASSERT_TRUE(lib.complete() && hooks.complete() && hooks.stall) << dlerror();
    for (auto [channels, rate] :
         {std::pair{2u, 44100u}, {2u, 22000u}, {1u, 48000u}, {1u, 11000u}}) {
        SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate));
        record(lib, channels, rate, 1500ms);
    }
    SCOPED_TRACE("a worker stall of 1.5 s, in the test build of the library");
    record(hooks, 2, 44100, 3000ms, 1500);
}
