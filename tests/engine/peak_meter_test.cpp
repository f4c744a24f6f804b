#include "engine/peak_meter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using kelvo::engine::measurePeaks;

namespace {

std::vector<std::uint8_t> stereo(std::size_t frames, std::int16_t left, std::int16_t right) {
    std::vector<std::uint8_t> v(frames * 4);
    for (std::size_t i = 0; i < frames; ++i) {
        std::memcpy(&v[i * 4], &left, 2);
        std::memcpy(&v[i * 4 + 2], &right, 2);
    }
    return v;
}

} // namespace

TEST(PeakMeter, EightBitMeasuresDistanceFromSilence) {
    auto peakOf = [](std::vector<std::uint8_t> v) {
        auto p = measurePeaks(1, v.data(), v.size());
        EXPECT_EQ(p.left, p.right) << "mono sets both channels";
        return p.left;
    };
    EXPECT_EQ(peakOf(std::vector<std::uint8_t>(2205, 128)), 0) << "silence";
    EXPECT_EQ(peakOf(std::vector<std::uint8_t>(2205, 0)), 32767) << "full scale below";
    EXPECT_EQ(peakOf(std::vector<std::uint8_t>(2205, 255)), 127 * 256) << "full scale above";
    EXPECT_EQ(peakOf(std::vector<std::uint8_t>(33, 127)), 256);
    std::vector<std::uint8_t> mixed(1001, 128);
    mixed[999] = 200; // beyond the vector part, in the tail
    EXPECT_EQ(peakOf(mixed), 72 * 256);
    mixed[3] = 20;
    EXPECT_EQ(peakOf(mixed), 108 * 256);
}

TEST(PeakMeter, SixteenBitMeasuresMagnitudePerChannel) {
    auto zeros = stereo(2205, 0, 0);
    auto p = measurePeaks(2, zeros.data(), zeros.size());
    EXPECT_EQ(p.left, 0);
    EXPECT_EQ(p.right, 0);

    auto extremes = stereo(2205, -32768, 32767);
    p = measurePeaks(2, extremes.data(), extremes.size());
    EXPECT_EQ(p.left, 32767) << "the most negative sample is full scale, not 129";
    EXPECT_EQ(p.right, 32767);

    auto minusOne = stereo(7, -1, 5);
    p = measurePeaks(2, minusOne.data(), minusOne.size());
    EXPECT_EQ(p.left, 1);
    EXPECT_EQ(p.right, 5);
}

TEST(PeakMeter, SixteenBitKeepsChannelsApartWhereverTheMaximumLies) {
    // Every frame position, so both the vector body and the scalar tail are covered.
    for (std::size_t at = 0; at < 11; ++at) {
        auto v = stereo(11, 100, -100);
        std::int16_t loud = -20000;
        std::memcpy(&v[at * 4 + 2], &loud, 2);
        auto p = measurePeaks(2, v.data(), v.size());
        EXPECT_EQ(p.left, 100) << at;
        EXPECT_EQ(p.right, 20000) << at;
    }
}

TEST(PeakMeter, OtherSelectorsAndEmptyBuffersMeasureNothing) {
    auto v = stereo(10, 1000, 1000);
    auto p = measurePeaks(3, v.data(), v.size());
    EXPECT_EQ(p.left + p.right, 0);
    p = measurePeaks(2, v.data(), 0);
    EXPECT_EQ(p.left + p.right, 0);
}
