// The engine library, loaded by name as the recorder loads it, and kelvo-rec, recording a
// tone played into a sink of the private sound server (PulseAudio or PipeWire) and captured
// from that sink's monitor; also across a crash of the server, and onto a full disk.
#include "wav_reader.h"

#include "kelvo/kelvo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace kelvo::engine::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kToneHz = 440;
constexpr double kToneAmplitude = 0.5; // of full scale
const std::string kSoundServer = KELVO_SOURCE_DIR "/scripts/sound-server";

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
    int (*status)(KelvoStatus*, size_t) = symbol<int(KelvoStatus*, size_t)>("KelvoGetStatus");
    void (*stall)(int) = symbol<void(int)>("KelvoTestStallWorkerOnce");
    bool complete() const { return initialize && start && stop && left && right && status; }
};

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Now on the engine's clock (CLOCK_BOOTTIME), in nanoseconds.
std::int64_t bootNs() {
    timespec t{};
    ::clock_gettime(CLOCK_BOOTTIME, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// The timeline's promise: the file spans the time from the first captured frame (as the
// engine's status tells it) to the stop, within 150 ms; the tests allow twice that.
void expectTheRule(double fileSeconds, std::int64_t firstNs, std::int64_t stopNs) {
    ASSERT_GT(firstNs, 0) << "no frame was ever captured";
    EXPECT_NEAR(fileSeconds, (stopNs - firstNs) / 1e9, 0.3);
}

// Plays a tone into the sink "speakers" and records from its monitor for as long as it lives.
struct Tone {
    explicit Tone(double level = kToneAmplitude) : amplitude(level) {}
    // Starts it again, as after a restart of the server.
    int play() const {
        return std::system(("pactl set-default-source speakers.monitor && pactl set-sink-volume "
                            "speakers 100% && pactl set-source-volume speakers.monitor 100% && (" +
                            player + " &)")
                               .c_str());
    }
    const double amplitude;
    const std::string file = "/tmp/kelvo-tone-" + std::to_string(getpid()) + ".wav";
    const std::string player = "paplay -d speakers " + file;
    const int rc = std::system(("sox -q -n -r 48000 -c 2 " + file + " synth 30 sine " +
                                std::to_string(kToneHz) + " vol " + std::to_string(amplitude))
                                   .c_str()) == 0
                       ? play()
                       : 1;
    ~Tone() {
        std::system(("pkill -f '" + player + "'; pactl set-default-source microphone").c_str());
        std::remove(file.c_str());
    }
};

// The first channel's sample at frame `i`, in full scale.
double sampleAt(const Wav& w, std::size_t i) {
    return w.blockAlign() == 1 ? (w.b[44 + i] - 128) / 128.0
                               : static_cast<std::int16_t>(w.u16(44 + 4 * i)) / 32768.0;
}

// The first channel from frame `from` on: its peak, its clipped samples and its frequency,
// measured over the tone alone: digital silence (filled in, or a server that had nothing to
// give for a block) has no crossings to count.
struct ToneFound {
    double peak = 0, hz = 0;
    std::size_t clipped = 0, silent = 0;
};
ToneFound analyse(const Wav& w, std::size_t from) {
    ToneFound t;
    std::size_t crossings = 0, zeros = 0;
    for (std::size_t i = from + 1; i < w.frames(); ++i) {
        const double now = sampleAt(w, i);
        t.peak = std::max(t.peak, std::abs(now));
        crossings += (sampleAt(w, i - 1) < 0) != (now < 0);
        t.clipped += now <= -1.0 || now >= 127 / 128.0;
        zeros = now == 0 ? zeros + 1 : 0;
        t.silent += zeros == 64 ? 64 : zeros > 64;
    }
    t.hz = crossings / 2.0 / (static_cast<double>(w.frames() - from - t.silent) / w.u32(24));
    return t;
}

// Records for `length` and checks the file, its duration against the wall clock, the
// tone in it and the peaks read meanwhile.
void record(Library& lib, unsigned channels, unsigned rate, std::chrono::milliseconds length,
            int stallMs = 0, double amplitude = kToneAmplitude) {
    const std::string path = "/tmp/kelvo-pulse-" + std::to_string(getpid()) + ".wav";
    int left = 0, right = 0;
    lib.initialize();
    auto began = Clock::now();
    EXPECT_EQ(lib.start(1, channels, rate, path.c_str()), KELVO_OK);
    const double startSeconds = secondsSince(began);
    if (stallMs > 0) {
        std::this_thread::sleep_for(300ms);
        lib.stall(stallMs);
    }
    while (Clock::now() - began < length) {
        std::this_thread::sleep_for(50ms);
        // A monitor may deliver a few hundred milliseconds of silence first, and the
        // server's resampler rings where the tone then sets in: the meters are read after.
        if (Clock::now() - began < 600ms)
            continue;
        left = std::max(left, lib.left());
        right = std::max(right, lib.right());
    }
    auto stopping = Clock::now();
    const std::int64_t stopNs = bootNs();
    EXPECT_EQ(lib.stop(), KELVO_OK);
    const double stopSeconds = secondsSince(stopping);
    // Generous bounds only; the figures themselves are printed for the record.
    EXPECT_TRUE(startSeconds < 1.0 && stopSeconds < 1.0);
    std::printf("start took %.1f ms, stop took %.1f ms\n", startSeconds * 1000, stopSeconds * 1000);
    // The meters read the tone's level, in 16-bit units.
    const int expected = static_cast<int>(amplitude * 32767);
    EXPECT_NEAR(left, expected, expected * 0.08);
    EXPECT_NEAR(right, expected, expected * 0.08);

    Wav w = readWav(path);
    std::remove(path.c_str());
    expectComplete(w, channels, rate);
    KelvoStatus st{};
    ASSERT_EQ(lib.status(&st, sizeof st), KELVO_OK);
    // Measured from the first captured frame, not from before the start: a start that took
    // long (under a sanitizer, say) is no part of the recording.
    expectTheRule(static_cast<double>(w.dataSize()) / w.u32(28), st.timelineStartNs, stopNs);
    ASSERT_GT(w.frames(), rate) << "less than a second of audio";
    // From 50 ms after the tone sets in (and 200 ms at the earliest).
    std::size_t from = 0;
    while (from < w.frames() && std::abs(sampleAt(w, from)) < amplitude / 2)
        ++from;
    from = std::max<std::size_t>(from + rate / 20, rate / 5);
    ASSERT_LT(from, w.frames() - rate / 2) << "the tone is missing";
    const ToneFound tone = analyse(w, from);
    // A player that ran dry on a loaded machine makes the server's resampler ring where it
    // comes back, a little above the tone; a mono sum (+3 dB) would be far more.
    EXPECT_NEAR(tone.peak, amplitude, amplitude * 0.15);
    EXPECT_EQ(tone.clipped, 0u);
    EXPECT_NEAR(tone.hz, kToneHz, kToneHz * 0.03);
    // A stall longer than the device's 3 s ring is a gap, filled; anything else is none.
    EXPECT_EQ(st.deviceState, KELVO_DEVICE_IDLE);
    EXPECT_EQ(st.bytesWritten, w.dataSize());
    EXPECT_EQ(st.framesCaptured + st.framesFilled, w.frames());
    EXPECT_EQ(st.gaps, stallMs > 3000 ? 1u : 0u);
    if (stallMs > 3000) {
        EXPECT_NEAR(static_cast<double>(st.framesFilled) / rate, stallMs / 1000.0 - 3.0, 0.3);
    }
    EXPECT_LE(st.framesFilled, tone.silent);
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
    SCOPED_TRACE("a stall of 4.5 s, longer than the device's ring");
    record(hooks, 2, 44100, 6000ms, 4500);
}

// A server asked for one channel may sum both (PipeWire does, +3 dB); mono is mixed down
// by the engine instead, so a loud tone keeps its level and never clips.
TEST(EnginePulse, MonoKeepsTheLevelOfALoudTone) {
    Tone tone(0.9);
    ASSERT_EQ(tone.rc, 0) << "no sound server reachable";
    std::this_thread::sleep_for(2200ms);
    Library lib(KELVO_LIBRARY);
    ASSERT_TRUE(lib.complete()) << dlerror();
    for (unsigned rate : {44100u, 22050u}) {
        SCOPED_TRACE(rate);
        record(lib, 1, rate, 1500ms, 0, 0.9);
    }
    // FFmpeg and the dozens of libraries it brings are the stream module's, for streams only.
    std::ifstream maps("/proc/self/maps");
    const std::string mapped{std::istreambuf_iterator<char>(maps), {}};
    EXPECT_EQ(mapped.find("libavformat"), std::string::npos) << "FFmpeg loaded for a sound source";
}

namespace {

struct RecRun {
    int status = -1;
    std::string err;
};

// Runs kelvo-rec with `args` under `sh -c` (for ulimit), its standard error kept; `during`
// runs meanwhile, from the moment it was started.
template <typename F>
RecRun kelvoRec(const std::string& shellPrefix, const std::string& args, F&& during) {
    const std::string errFile = "/tmp/kelvo-rec-err-" + std::to_string(getpid());
    pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        ::setenv("PULSE_SOURCE", "speakers.monitor", 1); // also once the server is back
        const std::string cmd = shellPrefix + "exec " KELVO_REC " " + args;
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    during();
    RecRun r;
    ::waitpid(pid, &r.status, 0);
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(errFile.c_str());
    return r;
}

// The running server's new exports after a revive (its process id changes).
void applyExports(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("export ", 0) != 0 || line.find('=') == std::string::npos)
            continue;
        const std::size_t eq = line.find('=');
        ::setenv(line.substr(7, eq - 7).c_str(), line.substr(eq + 1).c_str(), 1);
    }
}

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

} // namespace

// The server is killed 3 s into a 12 s recording and started again 1.5 s later, with a tone
// playing (so audio is in flight when it dies) or with nothing playing: the file spans the
// time from its first frame to the stop (the audio that died with the server is silence),
// the tone is back in it, and kelvo-rec says what happened but succeeds.
TEST(EnginePulse, ARecordingOutlivesAServerCrashWithOrWithoutAudioInFlight) {
    ASSERT_NE(std::getenv("KELVO_PULSE_DIR"), nullptr) << "needs scripts/sound-server";
    for (bool inFlight : {true, false}) {
        SCOPED_TRACE(inFlight ? "a tone in flight" : "nothing playing");
        auto tone = inFlight ? std::make_unique<Tone>() : nullptr;
        if (tone) {
            ASSERT_EQ(tone->rc, 0) << "no sound server reachable";
            std::this_thread::sleep_for(2200ms);
        }
        const std::string path = "/tmp/kelvo-crash-" + std::to_string(getpid()) + ".wav";
        double revivedAt = 0;
        RecRun r =
            kelvoRec("", "--test-report-clock --source speakers.monitor --seconds 12 " + path, [&] {
                const auto began = Clock::now();
                std::this_thread::sleep_until(began + 3s);
                EXPECT_EQ(std::system((kSoundServer + " kill").c_str()), 0);
                std::this_thread::sleep_until(began + 4500ms);
                applyExports(output(kSoundServer + " revive"));
                revivedAt = secondsSince(began);
                if (tone) {
                    EXPECT_EQ(tone->play(), 0);
                }
            });
        tone.reset();
        std::printf("%s", r.err.c_str());
        EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.status;
        EXPECT_NE(r.err.find("capture device lost at 0:0"), std::string::npos);
        const std::size_t until = r.err.find("silence written until 0:");
        ASSERT_NE(until, std::string::npos);
        const std::string stamp = r.err.substr(until + 22); // m:ss.d
        const double back = std::stoi(stamp) * 60 + std::stod(stamp.substr(stamp.find(':') + 1));
        std::printf("server back at %.2f s, audio again from %.2f s: %.0f ms\n", revivedAt, back,
                    (back - revivedAt) * 1000);

        Wav w = readWav(path);
        std::remove(path.c_str());
        expectComplete(w, 2, 44100);
        const std::size_t clock = r.err.find("timeline from ");
        ASSERT_NE(clock, std::string::npos);
        const std::string span = r.err.substr(clock + 14);
        expectTheRule(w.frames() / 44100.0, std::stoll(span),
                      std::stoll(span.substr(span.find(" to ") + 4)));
        if (inFlight) {
            const ToneFound found = analyse(w, w.frames() - 4 * 44100);
            EXPECT_NEAR(found.peak, kToneAmplitude, 0.05) << "the tone is in the last 4 s";
            EXPECT_NEAR(found.hz, kToneHz, kToneHz * 0.05);
        }
    }
}

// A file size limit stands in for a full disk: kelvo-rec stops, names the error, exits 4,
// and leaves a valid file.
TEST(EnginePulse, KelvoRecReportsAFullDiskAndLeavesAValidFile) {
    Tone tone;
    ASSERT_EQ(tone.rc, 0) << "no sound server reachable";
    const std::string path = "/tmp/kelvo-full-" + std::to_string(getpid()) + ".wav";
    // 200 blocks of 512 bytes: about 0.6 s of 44.1 kHz stereo.
    RecRun r = kelvoRec("ulimit -f 200; ", "--seconds 5 " + path, [] {});
    std::printf("%s", r.err.c_str());
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 4) << r.status;
    EXPECT_NE(r.err.find("File too large"), std::string::npos);
    Wav w = readWav(path);
    std::remove(path.c_str());
    expectComplete(w, 2, 44100);
    EXPECT_GT(w.frames(), 44100u / 2);
    EXPECT_NE(r.err.find("recorded " + std::to_string(w.frames() / 44100) + "."), std::string::npos)
        << "the length reported is the file's";
}

// What kelvo-rec says when the file is the problem: the reason in words, never an engine
// code, and never a success for a file that is gone.
TEST(EnginePulse, KelvoRecNamesWhatIsWrongWithTheFile) {
    Tone tone;
    ASSERT_EQ(tone.rc, 0) << "no sound server reachable";
    const struct {
        std::string args;
        int status;
        std::string says;
    } runs[] = {
        {"/nonexistent-folder/a.wav", 1,
         "cannot create /nonexistent-folder/a.wav: No such file or directory"},
        {"/dev/full", 2, "/dev/full is not a regular file"},
        {"/tmp", 2, "/tmp is not a regular file"},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.args);
        const RecRun r = kelvoRec("", run.args, [] {});
        EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == run.status) << r.status;
        EXPECT_NE(r.err.find(run.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("code -"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(" s into "), std::string::npos) << r.err;
    }
}

TEST(EnginePulse, KelvoRecTellsAFolderRemovedMidRecordingAndWritesTheRecordingBack) {
    Tone tone;
    ASSERT_EQ(tone.rc, 0) << "no sound server reachable";
    const std::string folder = "/tmp/kelvo-gone-" + std::to_string(getpid());
    const std::string path = folder + "/soundfiles/take.wav";
    ASSERT_EQ(std::system(("mkdir -p " + folder + "/soundfiles").c_str()), 0);
    RecRun r = kelvoRec("", "--seconds 3 " + path, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        std::system(("rm -rf " + folder + "/soundfiles").c_str());
    });
    std::printf("%s", r.err.c_str());
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.status;
    EXPECT_NE(r.err.find("was deleted; nothing is lost"), std::string::npos);
    EXPECT_NE(r.err.find("is back: the whole recording was written back"), std::string::npos);
    Wav w = readWav(path);
    std::system(("rm -rf " + folder).c_str());
    expectComplete(w, 2, 44100);
    EXPECT_GT(w.frames(), 44100u) << "the audio from before the deletion (at 1.2 s) is there";
    EXPECT_NE(r.err.find("recorded " + std::to_string(w.frames() / 44100) + "."), std::string::npos)
        << "the length reported is the file's";
}

// When the folder cannot be made again (a file took its name), the recording is lost, and
// kelvo-rec says so instead of reporting what it recorded.
TEST(EnginePulse, KelvoRecNeverCallsARecordingThatCouldNotBeWrittenBackRecorded) {
    Tone tone;
    ASSERT_EQ(tone.rc, 0) << "no sound server reachable";
    const std::string folder = "/tmp/kelvo-lost-" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir -p " + folder + "/soundfiles").c_str()), 0);
    const RecRun r = kelvoRec("", "--seconds 3 " + folder + "/soundfiles/take.wav", [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        std::system(
            ("rm -rf " + folder + "/soundfiles && touch " + folder + "/soundfiles").c_str());
    });
    std::system(("rm -rf " + folder).c_str());
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) != 0) << r.status << r.err;
    EXPECT_EQ(r.err.find("kelvo-rec: recorded "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("is back"), std::string::npos) << r.err;
}
