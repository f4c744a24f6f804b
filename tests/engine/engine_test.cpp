// The engine against the test device: starting, stopping, the files it leaves, its peaks.
#include "engine/capture_alsa.h"
#include "engine/capture_pulse.h"
#include "engine/capture_ring.h"
#include "engine/engine.h"
#include "engine/peak_meter.h"
#include "fake_capture_device.h"
#include "wav_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace kelvo::engine;
using namespace kelvo::engine::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The engine stops, and keeps the timeline, within 150 ms; the tests grant twice that, and
// more under a sanitizer, so a loaded machine cannot fail them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kPromptly = 0.6;
#else
constexpr double kPromptly = 0.3;
#endif

class EngineTest : public ::testing::Test {
protected:
    EngineTest() { fs::create_directories(dir); }
    ~EngineTest() override {
        engine.stop();
        fs::remove_all(dir);
    }

    std::string file(const std::string& name = "take.wav") const { return (dir / name).string(); }
    int start(unsigned channels = 2, unsigned rate = 8000, const std::string& name = "take.wav") {
        engine.initialize();
        return engine.start(1, channels, rate, file(name).c_str());
    }
    // The stop's code, or the start's when it fails.
    int record(std::chrono::milliseconds length, unsigned channels = 2, unsigned rate = 8000,
               const std::string& name = "take.wav") {
        if (int rc = start(channels, rate, name); rc != 0)
            return rc;
        std::this_thread::sleep_for(length);
        return engine.stop();
    }
    Wav take(const std::string& name = "take.wav") const {
        Wav w = readWav(file(name));
        expectComplete(w);
        return w;
    }
    // The first frame that breaks the device's counter, which starts at `first`.
    static std::size_t firstBreak(const Wav& w, std::uint64_t first = 0) {
        const bool mono = w.blockAlign() == 1;
        for (std::size_t i = 0; i < w.frames(); ++i)
            if ((mono ? w.b[44 + i] : w.u16(44 + 4 * i)) != ((first + i) & (mono ? 0xFF : 0xFFFF)))
                return i;
        return w.frames();
    }
    // Records in a child process, which the test may kill or give a file size limit.
    pid_t recordInChild(const char* name, std::chrono::milliseconds length,
                        rlim_t fileLimit = RLIM_INFINITY) {
        pid_t pid = ::fork();
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
            rlimit limit{fileLimit, fileLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            // The write failure shows in the status; the capture itself goes on to the stop.
            const int rc = record(length, 2, 8000, name);
            const KelvoStatus st = status();
            const bool errorShown =
                fileLimit == RLIM_INFINITY ? st.lastWriteError == 0 : st.lastWriteError == EFBIG;
            ::_exit(rc == 0 && errorShown && st.bytesWritten == engine.dataBytes() ? 0 : 1);
        }
        return pid;
    }

    KelvoStatus status() const {
        KelvoStatus s{};
        EXPECT_TRUE(engine.status(&s, sizeof s));
        return s;
    }
    // Polls the status until the device reaches `state`; false after `limit`.
    bool waitForState(int state, std::chrono::milliseconds limit = 3s) const {
        for (auto end = Clock::now() + limit; Clock::now() < end; std::this_thread::sleep_for(5ms))
            if (status().deviceState == state)
                return true;
        return false;
    }
    static double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

    fs::path dir = fs::temp_directory_path() / ("kelvo-engine-" + std::to_string(::getpid()));
    std::shared_ptr<FakeDeviceControl> control = std::make_shared<FakeDeviceControl>();
    Engine engine{[c = control](const std::string&) -> std::unique_ptr<CaptureDevice> {
        return std::make_unique<FakeCaptureDevice>(c);
    }};
};

TEST_F(EngineTest, IdleCallsTouchNothingAndAStartWhileRunningLeavesTheCaptureAlone) {
    EXPECT_EQ(engine.stop(), KELVO_OK);
    EXPECT_EQ(engine.togglePause(), 0);
    EXPECT_TRUE(engine.paused());
    ASSERT_EQ(start(), KELVO_OK);
    EXPECT_FALSE(engine.paused()) << "a recording starts unpaused";
    EXPECT_EQ(engine.start(1, 1, 44100, file("other.wav").c_str()), KELVO_ERR_ALREADY_RUNNING);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(engine.stop(), KELVO_OK);
    EXPECT_FALSE(fs::exists(file("other.wav")));
    EXPECT_EQ(control->opens, 1);
    Wav w = readWav(file());
    expectComplete(w, 2, 8000);
    EXPECT_GT(w.dataSize(), 0u);
    EXPECT_EQ(firstBreak(w), w.frames());
}

TEST_F(EngineTest, CaptureWithoutFileWritesNothingButMovesThePeaks) {
    control->stopAfter = 1; // one buffer: frames 0..399
    engine.setDrainLimit(100ms);
    ASSERT_EQ(engine.start(0, 2, 8000, ""), KELVO_OK);
    for (int i = 0; i < 200 && (engine.peakLeft() == 0 || engine.peakRight() == 0); ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(engine.peakLeft(), 399);
    EXPECT_EQ(engine.peakRight(), 399);
    EXPECT_EQ(engine.stop(), KELVO_OK);
    EXPECT_TRUE(fs::is_empty(dir));
    engine.initialize();
    EXPECT_EQ(engine.peakLeft(), 0);
}

// Buffers of 50 ms (2205 bytes for 8-bit mono at 44.1 kHz, no pad byte after the odd size):
// a stop right after the start waits for both; a device that stops handing them back is not
// waited for, and the time it kept to itself is silence, told as a gap.
TEST_F(EngineTest, AStopKeepsBothBuffersButNeverWaitsForADeviceThatKeepsThem) {
    std::ofstream(file()) << std::string(100000, 'x');
    engine.setDrainLimit(260ms); // twice the promise, for a loaded machine
    ASSERT_EQ(record(1ms, 1, 44100), KELVO_OK);
    Wav w = take();
    EXPECT_EQ(w.dataSize(), 2u * 2205);
    EXPECT_EQ(firstBreak(w), w.frames());

    control->stopAfter = control->delivered + 3;
    const auto began = Clock::now();
    ASSERT_EQ(start(), KELVO_OK);
    std::this_thread::sleep_for(1200ms);
    const auto stopping = Clock::now();
    EXPECT_EQ(engine.stop(), KELVO_OK);
    EXPECT_LT(seconds(Clock::now() - stopping), kPromptly);
    const double wall = seconds(Clock::now() - began);
    w = take();
    EXPECT_EQ(firstBreak(w, w.u16(44)), 3u * 400);
    EXPECT_NEAR(w.frames() / 8000.0, wall, kPromptly);
    EXPECT_EQ(status().gaps, 1u);
}

TEST_F(EngineTest, EveryFailingStartStepHasItsCodeAndLeavesTheDeviceFree) {
    for (auto [step, path, code] : {std::tuple{Step::Open, "take.wav", KELVO_ERR_OPEN_DEVICE},
                                    {Step::Prepare, "take.wav", KELVO_ERR_PREPARE_BUFFER},
                                    {Step::Queue, "take.wav", KELVO_ERR_QUEUE_BUFFER},
                                    {Step::None, "missing/take.wav", KELVO_ERR_CREATE_FILE},
                                    {Step::Start, "refused.wav", KELVO_ERR_START_CAPTURE}}) {
        control->failing = step;
        EXPECT_EQ(start(2, 8000, path), code);
        EXPECT_FALSE(engine.running());
        control->failing = Step::None;
        EXPECT_EQ(record(60ms), KELVO_OK) << code;
        take();
    }
    EXPECT_EQ(take("refused.wav").dataSize(), 0u);
}

TEST_F(EngineTest, PauseLeavesOutWholeBuffersAndKeepsSizesTrue) {
    ASSERT_EQ(start(), KELVO_OK);
    engine.togglePause();
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(engine.stop(), KELVO_OK);
    Wav w = take();
    EXPECT_EQ(w.fileSize, 44u) << "paused from start to stop leaves only the header";
    EXPECT_EQ(w.riffSize(), 36u);

    ASSERT_EQ(start(), KELVO_OK);
    for (int i = 0; i < 3; ++i) { // paused, resumed, paused again
        std::this_thread::sleep_for(150ms);
        engine.togglePause();
    }
    ASSERT_EQ(engine.stop(), KELVO_OK);
    w = take();
    EXPECT_EQ(w.dataSize() % 1600, 0u);
    std::size_t gap = firstBreak(w);
    ASSERT_LT(gap, w.frames()) << "the paused stretch is absent";
    EXPECT_EQ(gap % 400, 0u) << "a pause takes effect at a buffer boundary";
}

TEST_F(EngineTest, BufferReleaseErrorsMapToStopCodesYetReleaseEverything) {
    for (auto [error, code] : {std::pair{5, KELVO_ERR_RELEASE_INVALID_HANDLE},
                               {6, KELVO_ERR_RELEASE_NO_DRIVER},
                               {7, KELVO_ERR_RELEASE_NO_MEMORY},
                               {33, KELVO_ERR_RELEASE_STILL_QUEUED},
                               {1, KELVO_ERR_RELEASE_OTHER}}) {
        control->unprepareError = error;
        EXPECT_EQ(record(30ms), code);
        take();
    }
    control->unprepareError = 0;
    EXPECT_EQ(record(30ms), KELVO_OK);
}

TEST_F(EngineTest, ARecordingTooLargeForOneFileContinuesInTheNext) {
    engine.setMaxDataBytes(10000);
    ASSERT_EQ(record(1500ms, 2, 8000, "show.wav"), KELVO_OK);
    const KelvoStatus st = status();
    EXPECT_GE(st.parts, 4u);
    EXPECT_EQ(st.gaps, 0u);
    std::uint64_t frames = 0;
    std::uint32_t next = 0;
    for (std::uint32_t part = 1; part <= st.parts; ++part) {
        Wav w = take(part == 1 ? "show.wav" : "show-" + std::to_string(part) + ".wav");
        EXPECT_LE(w.dataSize(), 10000u);
        EXPECT_EQ(w.dataSize() % 4, 0u);
        if (part == 1)
            next = w.u16(44);
        EXPECT_EQ(firstBreak(w, next), w.frames()) << "part " << part;
        next += static_cast<std::uint32_t>(w.frames());
        frames += w.frames();
    }
    EXPECT_EQ(frames, st.framesCaptured);
    EXPECT_FALSE(fs::exists(file("show-" + std::to_string(st.parts + 1) + ".wav")));
}

TEST_F(EngineTest, AKilledProcessOrAFullDiskLeavesAValidFrameAlignedFile) {
    // Room for the header and a bit more than two buffers, ending mid-frame.
    // The child exits 0 only when its status names EFBIG and counts what reached the file.
    pid_t full = recordInChild("full.wav", 600ms, 3287), killed = recordInChild("killed.wav", 10s);
    ASSERT_TRUE(full > 0 && killed > 0);
    int status = 0;
    ::waitpid(full, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    Wav w = take("full.wav");
    EXPECT_EQ(w.dataSize() % 4, 0u);
    EXPECT_GT(w.dataSize(), 0u);

    std::this_thread::sleep_for(2400ms);
    ::kill(killed, SIGKILL);
    ::waitpid(killed, nullptr, 0);
    w = readWav(file("killed.wav"));
    ASSERT_TRUE(w.canonical());
    EXPECT_EQ(w.riffSize(), w.dataSize() + 36);
    EXPECT_LE(w.dataSize(), w.fileSize - 44);
    EXPECT_EQ(w.dataSize() % 4, 0u);
    EXPECT_GE(w.dataSize() / 32000.0, 3.0 - 1.6) << "more than about a second is missing";
    EXPECT_EQ(std::system(("sox '" + file("killed.wav") + "' -n stat 2>/dev/null").c_str()), 0);
}

// Whatever happens to the recording's name while it records, the stop puts every frame back
// under it; a file that took the name meanwhile is left as it is.
TEST_F(EngineTest, AFileDeletedOrMovedWhileRecordingIsBackUnderItsNameAtTheStop) {
    const fs::path folder = dir / "soundfiles";
    const std::string path = (folder / "show.wav").string();
    struct Case {
        const char* what;
        std::function<void()> meddle;
        bool nameTaken;
    };
    const Case cases[] = {
        {"file deleted", [&] { fs::remove(path); }, false},
        {"folder removed", [&] { fs::remove_all(folder); }, false},
        {"folder renamed", [&] { fs::rename(folder, dir / "elsewhere"); }, false},
        {"name taken",
         [&] {
             fs::remove(path);
             std::ofstream(path) << "the user's";
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder);
        fs::remove_all(dir / "elsewhere");
        fs::create_directories(folder);
        control->delivered = 0;
        control->frame = 0;
        control->frameTimeNs = 0;
        engine.initialize();
        ASSERT_EQ(engine.start(1, 2, 8000, path.c_str()), KELVO_OK);
        std::this_thread::sleep_for(150ms);
        c.meddle();
        std::this_thread::sleep_for(650ms);
        ASSERT_EQ(engine.stop(), KELVO_OK);
        const std::string kept = c.nameTaken ? (folder / "show-restored.wav").string() : path;
        Wav w = readWav(kept);
        expectComplete(w);
        EXPECT_GT(w.dataSize(), 10u * 1600) << "800 ms of 8 kHz stereo, give or take";
        EXPECT_EQ(firstBreak(w), w.frames());
        if (c.nameTaken) {
            EXPECT_EQ(fs::file_size(path), 10u);
        }
    }
}

// The device fails after half a second, two reopenings fail and the third succeeds: the
// file keeps the wall clock's length, the audio after the gap sits where its time was,
// and the status tells it all.
TEST_F(EngineTest, ALostDeviceIsReopenedAndTheTimeAwayFilledWithSilence) {
    control->lostAfter = 10;
    const auto began = Clock::now();
    ASSERT_EQ(start(), KELVO_OK);
    control->failOpens = 2;
    ASSERT_TRUE(waitForState(KELVO_DEVICE_RECONNECTING));
    const auto lost = Clock::now();
    KelvoStatus during = status();
    EXPECT_EQ(during.gaps, 1u);
    ASSERT_TRUE(waitForState(KELVO_DEVICE_CAPTURING));
    const double away = seconds(Clock::now() - lost);
    std::this_thread::sleep_for(500ms);
    const auto stopping = Clock::now();
    ASSERT_EQ(engine.stop(), KELVO_OK);
    EXPECT_LT(seconds(Clock::now() - stopping), kPromptly);
    const double wall = seconds(Clock::now() - began);

    EXPECT_EQ(control->openAttempts, 4);
    const KelvoStatus st = status();
    EXPECT_EQ(st.deviceState, KELVO_DEVICE_IDLE);
    EXPECT_EQ(st.gaps, 1u);
    EXPECT_EQ(st.framesFilled, st.lastGapFrames);
    // Two failed tries a reconnect interval apart, then the first buffer of the third.
    EXPECT_NEAR(st.lastGapFrames / 8000.0, away, kPromptly);
    EXPECT_GT(st.lastGapFrames / 8000.0, 2 * seconds(Engine::kReconnectInterval) - 0.05);
    EXPECT_EQ(st.lastWriteError, 0);
    EXPECT_EQ(st.parts, 1u);

    Wav w = take();
    EXPECT_EQ(st.bytesWritten, w.dataSize());
    EXPECT_EQ(st.framesCaptured + st.framesFilled, w.frames());
    EXPECT_NEAR(w.frames() / 8000.0, wall, kPromptly);
    const std::size_t gap = firstBreak(w);
    EXPECT_EQ(gap, 10u * 400) << "everything before the failure is kept, in order";
    const std::size_t back = gap + st.framesFilled;
    ASSERT_LT(back, w.frames());
    for (std::size_t i = gap; i < back; ++i)
        ASSERT_EQ(w.u32(44 + 4 * i), 0u) << "silence, frame " << i;
    // The reopened device's first frame is where its moment in time belongs.
    const auto counter = static_cast<std::int16_t>(w.u16(44 + 4 * back) - back);
    EXPECT_LT(std::abs(counter), kPromptly * 8000);
    std::size_t i = back + 1;
    while (i < w.frames() && w.u16(44 + 4 * i) == ((w.u16(44 + 4 * (i - 1)) + 1) & 0xFFFF))
        ++i;
    EXPECT_EQ(i, w.frames()) << "the reopened device's frames follow each other";
}

// Stopped while the device is away, at once or after retrying a while: the stop does not
// wait for it, the file still spans the wall clock, and the status says the device is lost.
TEST_F(EngineTest, ADeviceThatNeverComesBackIsNotWaitedFor) {
    for (auto away : {0ms, 700ms}) {
        SCOPED_TRACE(away.count());
        control->lostAfter = control->delivered + 4;
        control->failOpens = 0;
        const auto began = Clock::now();
        ASSERT_EQ(start(1, 11025), KELVO_OK);
        control->failOpens = 1000;
        ASSERT_TRUE(waitForState(KELVO_DEVICE_RECONNECTING));
        std::this_thread::sleep_for(away);
        const auto stopping = Clock::now();
        EXPECT_EQ(engine.stop(), KELVO_OK);
        EXPECT_LT(seconds(Clock::now() - stopping), kPromptly);
        const double wall = seconds(Clock::now() - began);
        const KelvoStatus st = status();
        EXPECT_EQ(st.deviceState, KELVO_DEVICE_LOST);
        EXPECT_EQ(st.gaps, 1u);
        EXPECT_EQ(st.framesCaptured, 4u * 551);
        Wav w = take();
        EXPECT_NEAR(w.frames() / 11025.0, wall, kPromptly);
        EXPECT_EQ(st.framesCaptured + st.framesFilled, w.frames());
        EXPECT_EQ(w.b.back(), 0x80) << "8-bit silence is the midpoint";
    }
    control->failOpens = 0;
    EXPECT_EQ(record(200ms), KELVO_OK) << "the next capture starts afresh";
    EXPECT_EQ(status().deviceState, KELVO_DEVICE_IDLE);
    EXPECT_EQ(status().gaps, 0u);
}

// A worker stall of 1.5 s: within the device's ring nothing is lost, even with empty buffers
// handed back; beyond it the frames that did not fit are counted and replaced by as much
// silence, so every later frame keeps its place.
TEST_F(EngineTest, AWorkerStallLosesNoFrameAndOneLongerThanTheRingIsFilledInPlace) {
    for (int ring : {3000, 400}) {
        SCOPED_TRACE(ring);
        control->ringMillis = ring;
        control->emptyEvery = ring > 1500 ? 2 : 0; // still handed back, or the pool dries up
        const auto began = Clock::now();
        ASSERT_EQ(start(), KELVO_OK);
        std::this_thread::sleep_for(120ms);
        engine.stallWorkerOnce(1500);
        std::this_thread::sleep_for(2300ms);
        ASSERT_EQ(engine.stop(), KELVO_OK);
        const double wall = seconds(Clock::now() - began);
        const KelvoStatus st = status();
        EXPECT_EQ(st.deviceState, KELVO_DEVICE_IDLE);
        Wav w = take();
        EXPECT_EQ(st.framesCaptured + st.framesFilled, w.frames());
        const std::uint32_t first = w.u16(44);
        const std::size_t gap = firstBreak(w, first);
        EXPECT_NEAR(w.frames() / 8000.0, wall, kPromptly);
        if (ring > 1500) {
            // Handed back at half speed, the device never caught up: what it still held at
            // the stop is the one gap, at the end.
            EXPECT_EQ(gap, st.framesCaptured);
            EXPECT_LE(st.gaps, 1u);
            continue;
        }
        EXPECT_EQ(st.gaps, 1u);
        EXPECT_NEAR(st.framesFilled / 8000.0, 1.5 - 0.4 - 0.1, 0.15);
        const std::size_t back = gap + st.framesFilled;
        ASSERT_LT(back, w.frames());
        for (std::size_t i = gap; i < back; ++i)
            ASSERT_EQ(w.u32(44 + 4 * i), 0u) << "silence, frame " << i;
        std::size_t i = back;
        while (i < w.frames() && w.u16(44 + 4 * i) == ((first + i) & 0xFFFF))
            ++i;
        EXPECT_EQ(i, w.frames()) << "frame " << i << " is out of place";
    }
}

// The machine slept ten minutes, with the device failing on waking or simply delivering
// on as if nothing happened: no more silence than the bound is written, and the recording
// goes on in the next part.
TEST_F(EngineTest, AGapLongerThanTheFillBoundEndsThePartInsteadOfFillingItAll) {
    for (bool deviceFails : {true, false}) {
        SCOPED_TRACE(deviceFails ? "the device fails" : "the device delivers on");
        auto offset = std::make_shared<std::atomic<std::int64_t>>(0);
        engine.setClock([offset] { return steadyNs() + offset->load(); });
        control->clock = [offset] { return steadyNs() + offset->load(); };
        engine.setMaxFillSeconds(0.5);
        control->lostAfter = deviceFails ? control->delivered + 4 : -1;
        control->failOpens = 0;
        ASSERT_EQ(start(2, 8000, "show.wav"), KELVO_OK);
        if (deviceFails) {
            control->failOpens = 3;
            ASSERT_TRUE(waitForState(KELVO_DEVICE_RECONNECTING));
        } else {
            std::this_thread::sleep_for(220ms);
        }
        *offset = std::chrono::nanoseconds(600s).count();
        std::this_thread::sleep_for(deviceFails ? 0ms : 100ms);
        ASSERT_TRUE(waitForState(KELVO_DEVICE_CAPTURING));
        std::this_thread::sleep_for(300ms);
        ASSERT_EQ(engine.stop(), KELVO_OK);

        const KelvoStatus st = status();
        EXPECT_EQ(st.parts, 2u);
        EXPECT_EQ(st.gaps, 1u);
        EXPECT_EQ(st.framesFilled, 4000u);
        EXPECT_GE(st.lastGapFrames, 600u * 8000 - 8000);
        Wav first = take("show.wav"), second = take("show-2.wav");
        const std::size_t before = first.frames() - 4000;
        EXPECT_EQ(firstBreak(first, first.u16(44)), before);
        EXPECT_GT(second.frames(), 0u);
        EXPECT_NE(second.u32(44), 0u) << "the next part starts with the audio, not silence";
        if (deviceFails)
            EXPECT_EQ(before, 4u * 400);
        else
            EXPECT_EQ(second.u16(44), (first.u16(44) + before) & 0xFFFF) << "no audio is lost";
        EXPECT_EQ(st.bytesWritten, first.dataSize() + second.dataSize());
    }
}

// Where frame i of a file stands against the device's counter: 0 when it holds the frame the
// device made at its moment, as the timeline promises.
static int offsetAt(const Wav& w, std::size_t i, std::uint64_t first) {
    return static_cast<std::int16_t>(w.u16(44 + 4 * i) - ((first + i) & 0xFFFF));
}

// The device stops for 2 s and then hands over everything it made meanwhile, as a server
// that kept a frozen recorder's backlog does; or the server has no source of the chosen name
// when the recording starts, and it appears later. Either way the file keeps the clock's
// length, the time without audio is silence told once, and the audio after it sits at its
// own moment: nothing counted twice.
TEST_F(EngineTest, AFrozenDeviceOrAMissingSourceKeepsEveryFrameAtItsMoment) {
    for (bool missing : {false, true}) {
        SCOPED_TRACE(missing ? "the source is missing at the start" : "the device freezes");
        control->missingOpens = missing ? 3 : 0;
        const auto began = Clock::now();
        ASSERT_EQ(start(), KELVO_OK);
        if (missing) {
            EXPECT_EQ(status().deviceState, KELVO_DEVICE_SOURCE_MISSING);
            ASSERT_TRUE(waitForState(KELVO_DEVICE_CAPTURING));
        } else {
            std::this_thread::sleep_for(300ms);
            control->freezeMs = 2000;
        }
        // Two buffers in turn catch up with a backlog at twice real time: 2 s more.
        std::this_thread::sleep_for(missing ? 2000ms : 5000ms);
        ASSERT_EQ(engine.stop(), KELVO_OK);
        const double wall = seconds(Clock::now() - began);
        const KelvoStatus st = status();
        EXPECT_EQ(st.gaps, 1u) << "the last one " << st.lastGapFrames << " frames";
        EXPECT_EQ(st.deviceState, KELVO_DEVICE_IDLE);
        Wav w = take();
        EXPECT_EQ(st.framesCaptured + st.framesFilled, w.frames());
        EXPECT_NEAR(w.frames() / 8000.0, wall, kPromptly);
        // The counter's first frame was made when the device started: frame 0 of the file.
        const std::uint64_t first = w.u16(44);
        const std::size_t gap = missing ? 0 : firstBreak(w, first);
        std::size_t back = gap;
        while (back < w.frames() && w.u32(44 + 4 * back) == 0)
            ++back;
        // Missing: found by the third try, two reconnect intervals on.
        EXPECT_NEAR((back - gap) / 8000.0, missing ? 2 * 0.25 : 2.0, kPromptly);
        ASSERT_LT(back + 8000, w.frames());
        if (!missing) { // the counter restarts with the device that was opened late
            for (std::size_t i : {back, back + 4000, w.frames() - 1})
                EXPECT_LT(std::abs(offsetAt(w, i, first)), kPromptly * 8000) << "frame " << i;
        }
    }
}

// The levels a supervisor watches: silent frames (no sample above 104, -50 dBFS), the silence
// under way, the highest peak, and what an RMS level needs.
TEST_F(EngineTest, TheStatusCountsSilenceAndTheLevels) {
    control->level = 104;
    ASSERT_EQ(start(), KELVO_OK);
    std::this_thread::sleep_for(600ms);
    const KelvoStatus quiet = status();
    control->level = 3000;
    std::this_thread::sleep_for(600ms);
    ASSERT_EQ(engine.stop(), KELVO_OK);
    const KelvoStatus st = status();
    EXPECT_GT(quiet.silentRunFrames, 3000u);
    EXPECT_EQ(quiet.silentRunFrames, quiet.framesSilent);
    EXPECT_EQ(st.silentRunFrames, 0u);
    EXPECT_GE(st.framesSilent, quiet.framesSilent);
    EXPECT_LT(st.framesSilent, st.framesCaptured);
    EXPECT_EQ(st.highestPeak, 3000u);
    EXPECT_EQ(st.samples, 2 * st.framesCaptured);
    const double loud = static_cast<double>(st.framesCaptured - st.framesSilent);
    // A buffer that holds the change of level counts as loud: one buffer's worth of doubt.
    EXPECT_NEAR(static_cast<double>(st.sumOfSquares),
                (static_cast<double>(st.framesSilent) * 104 * 104 + loud * 3000 * 3000) * 2,
                400.0 * 3000 * 3000 * 2);
    EXPECT_GT(st.timelineStartNs, 0);
}

TEST_F(EngineTest, TheStatusIsVersionedBySizeAndEveryCodeHasAName) {
    KelvoStatus st{};
    EXPECT_FALSE(engine.status(nullptr, sizeof st));
    EXPECT_FALSE(engine.status(&st, 7));
    ASSERT_EQ(record(300ms), KELVO_OK);
    // An older caller knowing only the first two fields gets those and nothing beyond.
    KelvoStatus small;
    std::memset(&small, 0xAB, sizeof small);
    EXPECT_TRUE(engine.status(&small, 8));
    EXPECT_EQ(small.deviceState, KELVO_DEVICE_IDLE);
    EXPECT_EQ(small.lastWriteError, 0);
    EXPECT_EQ(small.framesCaptured, 0xABABABABABABABABull);
    st = status();
    EXPECT_GT(st.framesCaptured, 0u);
    EXPECT_EQ(st.bytesWritten, take().dataSize());

    std::set<std::string> names;
    for (int code :
         {KELVO_OK, KELVO_ERR_ALREADY_RUNNING, KELVO_ERR_WORKER, KELVO_ERR_OPEN_DEVICE,
          KELVO_ERR_PREPARE_BUFFER, KELVO_ERR_QUEUE_BUFFER, KELVO_ERR_CREATE_FILE,
          KELVO_ERR_START_CAPTURE, KELVO_ERR_RESET_DEVICE, KELVO_ERR_RELEASE_INVALID_HANDLE,
          KELVO_ERR_RELEASE_NO_DRIVER, KELVO_ERR_RELEASE_NO_MEMORY, KELVO_ERR_RELEASE_STILL_QUEUED,
          KELVO_ERR_RELEASE_OTHER, KELVO_ERR_CLOSE_DEVICE, KELVO_ERR_FILE_WRITE,
          KELVO_ERR_STATUS_ARGUMENT})
        EXPECT_TRUE(names.insert(kelvo_strerror(code)).second) << code;
    EXPECT_EQ(names.count(kelvo_strerror(12345)), 0u);
    EXPECT_STREQ(kelvo_strerror(KELVO_ERR_FILE_SEEK), kelvo_strerror(KELVO_ERR_START_CAPTURE));
}

// A show's source is the sound server's: with the server away, the card's own input (ALSA's
// default device) is never recorded in its place; only the default source falls back to it.
TEST(SoundDevice, ANamedSourceIsAlwaysTheServersAndOnlyTheDefaultFallsBackToTheCard) {
    static int asked = 0;
    auto away = [] { return ++asked, false; };
    auto there = [] { return ++asked, true; };
    EXPECT_NE(dynamic_cast<PulseCaptureDevice*>(makeSoundDevice("line_in", away).get()), nullptr);
    EXPECT_EQ(asked, 0) << "a named source needs no probe of the server";
    EXPECT_NE(dynamic_cast<PulseCaptureDevice*>(makeSoundDevice("", there).get()), nullptr);
    EXPECT_NE(dynamic_cast<AlsaCaptureDevice*>(makeSoundDevice("", away).get()), nullptr);
}

// Two 8-bit channels mixed to their mean: equal channels keep their level, opposite ones
// cancel, and nothing overflows at full scale.
TEST(CaptureRing, MixesTwoChannelsDownToTheirMean) {
    const std::uint8_t stereo[] = {128, 128, 243, 243, 13, 13, 255, 255, 0, 0, 255, 0, 200, 100};
    const std::uint8_t mono[] = {128, 243, 13, 255, 0, 127, 150};
    std::uint8_t out[7] = {};
    downmixU8(stereo, out, 7);
    EXPECT_EQ(std::memcmp(out, mono, 7), 0);

    CaptureRing ring; // across the ring's end
    ring.allocate(4, 2);
    std::size_t room = 0;
    std::memcpy(ring.writable(room), stereo, 6);
    ring.commit(3);
    std::uint8_t two[2];
    EXPECT_EQ(ring.take(two, 2, true), 2u);
    std::memcpy(ring.writable(room), stereo + 6, 2);
    ring.commit(1);
    std::memcpy(ring.writable(room), stereo + 8, 4);
    ring.commit(2);
    std::uint8_t rest[4] = {};
    EXPECT_EQ(ring.take(rest, 4, true), 4u);
    EXPECT_EQ(std::memcmp(rest, mono + 2, 4), 0);
}

// What a full ring drops comes back as one gap, after the frames that were in the ring
// and before the frames that follow.
TEST(CaptureRing, ADroppedStretchBecomesAGapInItsPlace) {
    CaptureRing ring;
    ring.allocate(8, 1);
    auto put = [&ring](std::uint8_t first, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            std::size_t room = 0;
            std::uint8_t* at = ring.writable(room);
            if (room == 0) {
                ring.drop(n - i);
                return;
            }
            *at = static_cast<std::uint8_t>(first + i);
            ring.commit(1);
        }
    };
    put(0, 12); // 8 fit, 4 dropped
    std::uint8_t out[16] = {};
    EXPECT_EQ(ring.takeGap(), 0u) << "not before the frames ahead of it";
    EXPECT_EQ(ring.take(out, 5, false), 5u);
    EXPECT_FALSE(ring.atGap());
    put(12, 5); // 5 fit again
    put(17, 3); // 3 more dropped: the same gap
    EXPECT_EQ(ring.take(out, 16, false), 3u) << "a take stops at the gap";
    EXPECT_EQ(out[2], 7);
    EXPECT_TRUE(ring.atGap());
    EXPECT_EQ(ring.takeGap(), 7u);
    EXPECT_EQ(ring.takeGap(), 0u);
    EXPECT_EQ(ring.take(out, 16, false), 5u);
    EXPECT_EQ(out[0], 12);
}

using Bytes = std::vector<std::uint8_t>;

// Frames of (left, right), with -20000 in place of the sample at index `loud`.
static Bytes stereo(std::size_t frames, std::int16_t left, std::int16_t right,
                    std::size_t loud = -1) {
    std::vector<std::int16_t> s(frames * 2);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = i == loud ? -20000 : i % 2 ? right : left;
    Bytes v(s.size() * 2);
    std::memcpy(v.data(), s.data(), v.size());
    return v;
}

TEST(PeakMeter, MeasuresEachFormatsMagnitudeAndNothingForOtherSelectors) {
    Bytes tail(1001, 128); // a peak beyond the vector body, then one in it
    tail[999] = 200;
    Bytes both = tail;
    both[3] = 20;
    std::vector<std::tuple<unsigned, Bytes, int, int>> cases = {
        {1, Bytes(2205, 128), 0, 0},         {1, Bytes(2205, 0), 32767, 32767},
        {1, Bytes(2205, 255), 32512, 32512}, {1, Bytes(33, 127), 256, 256},
        {1, tail, 72 * 256, 72 * 256},       {1, both, 108 * 256, 108 * 256},
        {2, stereo(2205, 0, 0), 0, 0},       {2, stereo(2205, -32768, 32767), 32767, 32767},
        {2, stereo(7, -1, 5), 1, 5},         {2, Bytes{}, 0, 0},
        {3, stereo(10, 1000, 1000), 0, 0},   {0, Bytes(100, 0), 0, 0},
    };
    // The loud sample at every position of both channels: vector body and scalar tail.
    for (std::size_t at = 0; at < 22; ++at)
        cases.push_back({2, stereo(11, 100, -100, at), at % 2 ? 100 : 20000, at % 2 ? 20000 : 100});
    int i = 0;
    for (const auto& [selector, data, left, right] : cases) {
        auto p = measurePeaks(selector, data.data(), data.size());
        EXPECT_EQ(p.left, left) << "case " << i;
        EXPECT_EQ(p.right, right) << "case " << i;
        // The sum of squares, against the plain sum; -32768 squared twice in a frame is the
        // most any one frame can add.
        std::uint64_t squares = 0;
        if (selector == 1)
            for (std::uint8_t b : data)
                squares += static_cast<std::uint64_t>((b - 128) * (b - 128)) * 65536;
        if (selector == 2)
            for (std::size_t at = 0; at + 1 < data.size(); at += 2) {
                const auto v = static_cast<std::int16_t>(data[at] | data[at + 1] << 8);
                squares += static_cast<std::uint64_t>(v * v);
            }
        EXPECT_EQ(p.sumOfSquares, squares) << "case " << i++;
    }
    const Bytes loudest = stereo(1 << 16, -32768, -32768);
    EXPECT_EQ(measurePeaks(2, loudest.data(), loudest.size()).sumOfSquares, 1ull << 47);
}
