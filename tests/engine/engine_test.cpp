// The engine's start and stop sequences against the test device.
#include "engine/capture_engine.h"
#include "fake_capture_device.h"
#include "wav_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace kelvo::engine;
using namespace kelvo::engine::testing;
using namespace std::chrono_literals;

namespace {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kelvo-engine-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        engine.setDrainLimit(1000ms);
    }
    void TearDown() override {
        engine.stop();
        fs::remove_all(dir);
    }

    std::string file(const std::string& name = "take.wav") const { return (dir / name).string(); }

    int record(std::uint32_t channels, std::uint32_t rate, std::chrono::milliseconds length,
               const std::string& path) {
        engine.initialize();
        int rc = engine.start(1, channels, rate, path.c_str());
        if (rc != 0)
            return rc;
        std::this_thread::sleep_for(length);
        return engine.stop();
    }

    // Frames in the data hold the running counter; returns the first frame out of order.
    static std::size_t firstBreakInCounter(const WavContents& w, std::uint64_t first = 0) {
        const std::size_t frames = w.dataSize() / w.blockAlign();
        for (std::size_t i = 0; i < frames; ++i) {
            std::uint32_t expected = static_cast<std::uint32_t>(first + i);
            std::uint32_t got = w.blockAlign() == 1 ? w.data()[i] : w.u16(44 + 4 * i);
            std::uint32_t mask = w.blockAlign() == 1 ? 0xFF : 0xFFFF;
            if (got != (expected & mask))
                return i;
        }
        return frames;
    }

    fs::path dir;
    std::shared_ptr<FakeDeviceControl> control = std::make_shared<FakeDeviceControl>();
    Engine engine{FakeCaptureDevice::factory(control)};
};

void expectConsistentSizes(const WavContents& w) {
    ASSERT_TRUE(w.headerIsCanonical());
    EXPECT_EQ(w.riffSize(), w.bytes.size() - 8);
    EXPECT_EQ(w.dataSize(), w.dataOnDisk());
}

} // namespace

TEST_F(EngineTest, StartWhileRunningIsRefusedAndLeavesTheCaptureAlone) {
    control->pacingMs = 10;
    engine.initialize();
    ASSERT_EQ(engine.start(1, 2, 8000, file().c_str()), 0);
    EXPECT_EQ(engine.start(1, 1, 44100, file("other.wav").c_str()), -999);
    EXPECT_FALSE(fs::exists(file("other.wav")));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(engine.stop(), 0);
    EXPECT_EQ(control->opens, 1);
    auto w = readWav(file());
    expectConsistentSizes(w);
    EXPECT_EQ(w.channels(), 2);
    EXPECT_EQ(w.sampleRate(), 8000u);
    EXPECT_EQ(w.blockAlign(), 4);
    EXPECT_EQ(w.bitsPerSample(), 16);
    EXPECT_EQ(w.avgBytesPerSec(), 32000u);
    EXPECT_GT(w.dataSize(), 0u);
    EXPECT_EQ(firstBreakInCounter(w), w.dataSize() / 4);
}

TEST_F(EngineTest, IdleCallsAndImpossibleFormatsTouchNothing) {
    EXPECT_EQ(engine.stop(), 0);
    EXPECT_EQ(engine.togglePause(), 0);
    EXPECT_TRUE(engine.paused());
    EXPECT_EQ(engine.initialize(), 0);
    EXPECT_FALSE(engine.paused());
    EXPECT_EQ(engine.start(1, 3, 8000, file().c_str()), -3);
    EXPECT_EQ(engine.start(1, 2, 0, file().c_str()), -3);
    EXPECT_EQ(engine.start(1, 2, 8000, nullptr), -99);
    EXPECT_EQ(control->opens, 0);
}

TEST_F(EngineTest, CaptureWithoutFileWritesNothingButMovesThePeaks) {
    control->fill = [](std::uint64_t, std::uint8_t* p, std::uint32_t n) {
        for (std::uint32_t i = 0; i + 3 < n; i += 4) {
            p[i] = 0x10, p[i + 1] = 0x27;     // left 10000
            p[i + 2] = 0xF0, p[i + 3] = 0xD8; // right -10000
        }
    };
    engine.initialize();
    ASSERT_EQ(engine.start(0, 2, 8000, ""), 0);
    ASSERT_TRUE([&] {
        for (int i = 0; i < 200 && engine.peakRight() == 0; ++i)
            std::this_thread::sleep_for(5ms);
        return engine.peakRight() != 0;
    }());
    EXPECT_EQ(engine.peakLeft(), 10000);
    EXPECT_EQ(engine.peakRight(), 10000);
    EXPECT_EQ(engine.stop(), 0);
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(engine.peakLeft(), 10000) << "peaks hold the last buffer after a stop";
    engine.initialize();
    EXPECT_EQ(engine.peakLeft(), 0);
}

TEST_F(EngineTest, BuffersHoldFiftyMilliseconds) {
    control->pacingMs = 5;
    ASSERT_EQ(record(1, 44100, 30ms, file()), 0);
    ASSERT_EQ(record(2, 8000, 30ms, file()), 0);
    std::lock_guard lock(control->mutex);
    EXPECT_EQ(control->capacities, (std::vector<std::uint32_t>{2205, 2205, 1600, 1600}));
}

TEST_F(EngineTest, EveryFailingStartStepHasItsCodeAndLeavesTheDeviceFree) {
    struct Case {
        std::atomic<bool> FakeDeviceControl::*fault;
        const char* path;
        int code;
    };
    for (Case c : {Case{&FakeDeviceControl::busy, "take.wav", -3},
                   Case{&FakeDeviceControl::failPrepare, "take.wav", -4},
                   Case{&FakeDeviceControl::failQueue, "take.wav", -5},
                   Case{nullptr, "missing/take.wav", -99},
                   Case{&FakeDeviceControl::failStart, "refused.wav", -6}}) {
        if (c.fault)
            (*control).*c.fault = true;
        engine.initialize();
        EXPECT_EQ(engine.start(1, 2, 8000, file(c.path).c_str()), c.code);
        EXPECT_FALSE(engine.running());
        if (c.fault)
            (*control).*c.fault = false;
        EXPECT_EQ(record(2, 8000, 60ms, file()), 0) << c.code;
        expectConsistentSizes(readWav(file()));
    }
    // The file a start created before the device refused to start is a valid empty WAV.
    auto w = readWav(file("refused.wav"));
    expectConsistentSizes(w);
    EXPECT_EQ(w.dataSize(), 0u);
}

TEST_F(EngineTest, PausedFromStartToStopLeavesOnlyTheHeader) {
    control->pacingMs = 50;
    engine.initialize();
    ASSERT_EQ(engine.start(1, 2, 8000, file().c_str()), 0);
    engine.togglePause();
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(engine.stop(), 0);
    auto w = readWav(file());
    EXPECT_EQ(w.bytes.size(), 44u);
    EXPECT_EQ(w.riffSize(), 36u);
    EXPECT_EQ(w.dataSize(), 0u);
}

TEST_F(EngineTest, PauseLeavesOutWholeBuffersAndKeepsSizesTrue) {
    control->pacingMs = 20;
    engine.initialize();
    ASSERT_EQ(engine.start(1, 2, 8000, file().c_str()), 0);
    std::this_thread::sleep_for(150ms);
    engine.togglePause();
    std::this_thread::sleep_for(150ms);
    engine.togglePause();
    std::this_thread::sleep_for(150ms);
    ASSERT_EQ(engine.stop(), 0);
    auto w = readWav(file());
    expectConsistentSizes(w);
    EXPECT_EQ(w.dataSize() % 1600, 0u);
    std::size_t firstGap = firstBreakInCounter(w);
    ASSERT_LT(firstGap, w.dataSize() / 4) << "the paused stretch is absent";
    EXPECT_EQ(firstGap % 400, 0u) << "a pause takes effect at a buffer boundary";
}

TEST_F(EngineTest, AnExistingFileIsEmptiedAndAnOddDataSizeGetsNoPadByte) {
    {
        std::ofstream old(file(), std::ios::binary);
        old << std::string(100000, 'x');
    }
    control->stopAfter = 3;
    engine.setDrainLimit(100ms);
    ASSERT_EQ(record(1, 44100, 50ms, file()), 0);
    auto w = readWav(file());
    expectConsistentSizes(w);
    EXPECT_EQ(w.dataSize(), 3u * 2205);
    EXPECT_EQ(w.riffSize() % 2, 1u);
    EXPECT_EQ(firstBreakInCounter(w), 3u * 2205);
}

TEST_F(EngineTest, AWorkerStallLosesNoFrames) {
    control->pacingMs = 50;
    engine.initialize();
    ASSERT_EQ(engine.start(1, 2, 8000, file().c_str()), 0);
    std::this_thread::sleep_for(120ms);
    engine.stallWorkerOnce(1500);
    std::this_thread::sleep_for(1700ms);
    ASSERT_EQ(engine.stop(), 0);
    auto w = readWav(file());
    expectConsistentSizes(w);
    EXPECT_EQ(firstBreakInCounter(w), w.dataSize() / 4);
}

TEST_F(EngineTest, EmptyBuffersKeepCirculatingAndAStopAlwaysReturns) {
    control->emptyEvery = 2;
    control->pacingMs = 5;
    ASSERT_EQ(record(2, 8000, 200ms, file()), 0);
    auto w = readWav(file());
    expectConsistentSizes(w);
    EXPECT_GT(control->buffersDelivered, 6) << "the pool did not dry up";
    EXPECT_EQ(firstBreakInCounter(w), w.dataSize() / 4);

    // A device that stops returning buffers (removed, or its driver stuck).
    control->emptyEvery = 0;
    control->pacingMs = 0;
    control->buffersDelivered = 0;
    control->stopAfter = 4;
    engine.setDrainLimit(300ms);
    auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(record(2, 8000, 50ms, file()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
    w = readWav(file());
    expectConsistentSizes(w);
    EXPECT_EQ(w.dataSize(), 4u * 1600);
}

TEST_F(EngineTest, BufferReleaseErrorsMapToStopCodesYetReleaseEverything) {
    control->pacingMs = 5;
    for (auto [error, code] : {std::pair{5, -50}, {6, -51}, {7, -52}, {33, -53}, {1, -666}}) {
        control->unprepareError = error;
        EXPECT_EQ(record(2, 8000, 30ms, file()), code);
        EXPECT_FALSE(engine.running());
        EXPECT_EQ(engine.stop(), 0) << "a second stop has nothing to do";
        expectConsistentSizes(readWav(file()));
    }
    control->unprepareError = 0;
    EXPECT_EQ(record(2, 8000, 30ms, file()), 0);
}

TEST_F(EngineTest, ARecordingTooLargeForOneFileContinuesInTheNext) {
    control->stopAfter = 20; // 20 buffers of 1600 bytes
    engine.setDrainLimit(100ms);
    engine.setMaxDataBytes(10000);
    ASSERT_EQ(record(2, 8000, 50ms, file("show.wav")), 0);
    std::uint64_t frame = 0;
    std::uint64_t total = 0;
    for (const char* name : {"show.wav", "show-2.wav", "show-3.wav", "show-4.wav"}) {
        auto w = readWav(file(name));
        SCOPED_TRACE(name);
        expectConsistentSizes(w);
        EXPECT_LE(w.dataSize(), 10000u);
        EXPECT_EQ(w.dataSize() % 4, 0u);
        EXPECT_EQ(firstBreakInCounter(w, frame), w.dataSize() / 4);
        frame += w.dataSize() / 4;
        total += w.dataSize();
    }
    EXPECT_EQ(total, 20u * 1600);
    EXPECT_FALSE(fs::exists(file("show-5.wav")));
}
