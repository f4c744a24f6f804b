// The engine against the test device: starting, stopping, the files it leaves, its peaks.
#include "engine/capture_engine.h"
#include "engine/peak_meter.h"
#include "fake_capture_device.h"
#include "wav_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace kelvo::engine;
using namespace kelvo::engine::testing;
using namespace std::chrono_literals;

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
            ::_exit(record(length, 2, 8000, name) == 0 ? 0 : 1);
        }
        return pid;
    }

    fs::path dir = fs::temp_directory_path() / ("kelvo-engine-" + std::to_string(::getpid()));
    std::shared_ptr<FakeDeviceControl> control = std::make_shared<FakeDeviceControl>();
    Engine engine{[c = control]() -> std::unique_ptr<CaptureDevice> {
        return std::make_unique<FakeCaptureDevice>(c);
    }};
};

TEST_F(EngineTest, IdleCallsTouchNothingAndAStartWhileRunningLeavesTheCaptureAlone) {
    EXPECT_EQ(engine.stop(), 0);
    EXPECT_EQ(engine.togglePause(), 0);
    EXPECT_TRUE(engine.paused());
    ASSERT_EQ(start(), 0);
    EXPECT_FALSE(engine.paused()) << "a recording starts unpaused";
    EXPECT_EQ(engine.start(1, 1, 44100, file("other.wav").c_str()), -999);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(engine.stop(), 0);
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
    ASSERT_EQ(engine.start(0, 2, 8000, ""), 0);
    for (int i = 0; i < 200 && (engine.peakLeft() == 0 || engine.peakRight() == 0); ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(engine.peakLeft(), 399);
    EXPECT_EQ(engine.peakRight(), 399);
    EXPECT_EQ(engine.stop(), 0);
    EXPECT_TRUE(fs::is_empty(dir));
    engine.initialize();
    EXPECT_EQ(engine.peakLeft(), 0);
}

TEST_F(EngineTest, BuffersHoldFiftyMillisecondsAndAStopReturnsWhenTheDeviceKeepsThem) {
    std::ofstream(file()) << std::string(100000, 'x');
    control->stopAfter = 3;
    engine.setDrainLimit(300ms);
    ASSERT_EQ(record(400ms, 1, 44100), 0);
    Wav w = take(); // the old file emptied, and no pad byte after the odd data size
    EXPECT_EQ(w.dataSize(), 3u * 2205);
    EXPECT_EQ(firstBreak(w), w.frames());
    control->delivered = 0;
    auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(record(400ms), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
    EXPECT_EQ(take().dataSize(), 3u * 1600);
}

TEST_F(EngineTest, EveryFailingStartStepHasItsCodeAndLeavesTheDeviceFree) {
    for (auto [step, path, code] : {std::tuple{Step::Open, "take.wav", -3},
                                    {Step::Prepare, "take.wav", -4},
                                    {Step::Queue, "take.wav", -5},
                                    {Step::None, "missing/take.wav", -99},
                                    {Step::Start, "refused.wav", -6}}) {
        control->failing = step;
        EXPECT_EQ(start(2, 8000, path), code);
        EXPECT_FALSE(engine.running());
        control->failing = Step::None;
        EXPECT_EQ(record(60ms), 0) << code;
        take();
    }
    EXPECT_EQ(take("refused.wav").dataSize(), 0u);
}

TEST_F(EngineTest, PauseLeavesOutWholeBuffersAndKeepsSizesTrue) {
    ASSERT_EQ(start(), 0);
    engine.togglePause();
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(engine.stop(), 0);
    Wav w = take();
    EXPECT_EQ(w.fileSize, 44u) << "paused from start to stop leaves only the header";
    EXPECT_EQ(w.riffSize(), 36u);

    ASSERT_EQ(start(), 0);
    for (int i = 0; i < 3; ++i) { // paused, resumed, paused again
        std::this_thread::sleep_for(150ms);
        engine.togglePause();
    }
    ASSERT_EQ(engine.stop(), 0);
    w = take();
    EXPECT_EQ(w.dataSize() % 1600, 0u);
    std::size_t gap = firstBreak(w);
    ASSERT_LT(gap, w.frames()) << "the paused stretch is absent";
    EXPECT_EQ(gap % 400, 0u) << "a pause takes effect at a buffer boundary";
}

TEST_F(EngineTest, NeitherAWorkerStallNorEmptyBuffersLoseFrames) {
    control->emptyEvery = 2; // still handed back, or the pool dries up
    ASSERT_EQ(start(), 0);
    std::this_thread::sleep_for(120ms);
    engine.stallWorkerOnce(1500);
    std::this_thread::sleep_for(2000ms);
    ASSERT_EQ(engine.stop(), 0);
    Wav w = take();
    EXPECT_GT(control->delivered, 8);
    EXPECT_EQ(firstBreak(w), w.frames());
}

TEST_F(EngineTest, BufferReleaseErrorsMapToStopCodesYetReleaseEverything) {
    for (auto [error, code] : {std::pair{5, -50}, {6, -51}, {7, -52}, {33, -53}, {1, -666}}) {
        control->unprepareError = error;
        EXPECT_EQ(record(30ms), code);
        take();
    }
    control->unprepareError = 0;
    EXPECT_EQ(record(30ms), 0);
}

TEST_F(EngineTest, ARecordingTooLargeForOneFileContinuesInTheNext) {
    control->stopAfter = 20; // 20 buffers of 1600 bytes
    engine.setDrainLimit(100ms);
    engine.setMaxDataBytes(10000);
    ASSERT_EQ(record(1500ms, 2, 8000, "show.wav"), 0);
    std::uint64_t frame = 0;
    for (const char* name : {"show.wav", "show-2.wav", "show-3.wav", "show-4.wav"}) {
        Wav w = take(name);
        EXPECT_LE(w.dataSize(), 10000u);
        EXPECT_EQ(w.dataSize() % 4, 0u);
        EXPECT_EQ(firstBreak(w, frame), w.frames());
        frame += w.frames();
    }
    EXPECT_EQ(frame * 4, 20u * 1600);
    EXPECT_FALSE(fs::exists(file("show-5.wav")));
}

TEST_F(EngineTest, AKilledProcessOrAFullDiskLeavesAValidFrameAlignedFile) {
    // Room for the header and a bit more than two buffers, ending mid-frame.
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
        EXPECT_EQ(p.right, right) << "case " << i++;
    }
}
