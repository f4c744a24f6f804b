#include "recorder/meters/level_meter.h"
#include "recorder/meters/meter_image.h"
#include "recorder/meters/meter_poll.h"
#include "tests/meters/fake_capture_engine.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace kelvo {
namespace {

constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kMarkerYellow = qRgb(255, 255, 1);
constexpr QRgb kPaleGreen = qRgb(192, 255, 192);

const QImage& meterImage() {
    static const QImage image = drawMeterImage();
    return image;
}

// What a meter shows unlit and lit at (x, y): its bar of the image, black below the image.
QRgb unlit(int x, int y) {
    return y < 74 ? meterImage().pixel(10 + x, y) : kBlack;
}
QRgb lit(int x, int y) {
    return y < 74 ? meterImage().pixel(20 + x, y) : kBlack;
}

// Every pixel unlit, except a marker of `colour` in columns 0..4 of rows `markerRows`.
void expectUnlitWithMarker(const QImage& shown, std::initializer_list<int> markerRows,
                           QRgb colour) {
    for (int y = 0; y < 75; ++y) {
        const bool marker = std::find(markerRows.begin(), markerRows.end(), y) != markerRows.end();
        for (int x = 0; x < 10; ++x) {
            ASSERT_EQ(shown.pixel(x, y), marker && x < 5 ? colour : unlit(x, y))
                << "x " << x << " y " << y;
        }
    }
}

TEST(MeterImage, HasBlackFrameUnlitBarsAndASegmentedLitBar) {
    const QImage& image = meterImage();
    ASSERT_EQ(image.size(), QSize(27, 74));
    const auto frame = [](int x, int y) {
        return y == 0 || y == 73 || x == 0 || x == 8 || x == 9 || x == 17 || x == 18 || x == 26;
    };
    const QRgb olive = qRgb(132, 130, 66), darkGreen = qRgb(0, 130, 0), green = qRgb(0, 255, 0);
    for (auto [row, unlitColour, litColour] : {std::tuple{0, kBlack, kBlack},
                                               {4, qRgb(132, 0, 0), kRed},
                                               {5, olive, qRgb(255, 255, 132)},
                                               {12, olive, qRgb(255, 255, 0)},
                                               {13, darkGreen, darkGreen},
                                               {15, darkGreen, green},
                                               {70, darkGreen, darkGreen},
                                               {72, darkGreen, green},
                                               {73, kBlack, kBlack}}) {
        for (int x = 0; x < 27; ++x) {
            const QRgb expected = frame(x, row) ? kBlack : x < 19 ? unlitColour : litColour;
            ASSERT_EQ(image.pixel(x, row), expected) << "x " << x << " y " << row;
        }
    }
}

TEST(LevelMeter, FullLevelLightsTheWholeHeightWithARedMarkerAtTheTop) {
    LevelMeter meter(meterImage());
    meter.drawMeterRise(100, 100);
    for (int y = 0; y < 75; ++y) {
        for (int x = 0; x < 10; ++x) {
            const QRgb expected = x >= 5 ? unlit(x, y) : y < 2 ? kRed : lit(x, y);
            ASSERT_EQ(meter.image().pixel(x, y), expected) << "x " << x << " y " << y;
        }
    }
    meter.drawMeterFall(0, 60); // unlit from the top, the marker of 60 at row 30
    expectUnlitWithMarker(meter.image(), {30, 31}, kPaleGreen);
    meter.clearMeter();
    expectUnlitWithMarker(meter.image(), {}, 0);
}

TEST(LevelMeter, MarkerSitsInTheRowAndColourOfItsBand) {
    LevelMeter meter(meterImage());
    meter.drawMeterRise(1, 1); // no bar, a marker on the bottom row only
    expectUnlitWithMarker(meter.image(), {74}, kPaleGreen);
    for (auto [hold, row, colour] : {std::tuple{95, 4, kRed},
                                     {94, 4, kRed},
                                     {93, 5, kMarkerYellow},
                                     {84, 12, kMarkerYellow},
                                     {83, 13, kPaleGreen}}) {
        SCOPED_TRACE(hold);
        meter.clearMeter();
        meter.drawMeterRise(0, hold);
        expectUnlitWithMarker(meter.image(), {row, row + 1}, colour);
    }
}

// Collects the region of every paint the widget receives.
struct PaintRecorder : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            region += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
    QRegion region;
};

TEST(LevelMeter, RepaintsOnlyTheChangedBandFromItsOwnImage) {
    LevelMeter meter(meterImage());
    meter.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&meter));
    PaintRecorder recorder;
    meter.installEventFilter(&recorder);
    meter.drawMeterRise(40, 0);
    QTRY_COMPARE(recorder.region, QRegion(0, 45, 5, 30));
    recorder.region = {};
    meter.drawMeterRise(0, 0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(recorder.region.isEmpty());
    EXPECT_EQ(meter.grab().toImage().convertToFormat(QImage::Format_RGB32), meter.image());
}

class MeterPollTest : public testing::Test {
protected:
    void pollPercent(int leftPercent, int rightPercent) {
        engine.left = (leftPercent * 32767 + 99) / 100;
        engine.right = (rightPercent * 32767 + 99) / 100;
        meters.poll();
    }

    test::FakeCaptureEngine engine;
    LevelMeter left{meterImage()}, right{meterImage()};
    QTimer timer2, timer3, timer4;
    MeterPoll meters{engine, left, right, timer2, timer3, timer4};
};

TEST_F(MeterPollTest, ReadsTheRightPeakFirstAsRoundedPercent) {
    meters.poll();
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"peakRight", "peakLeft"}));
    EXPECT_EQ(peakPercent(163), 0);
    EXPECT_EQ(peakPercent(164), 1);
    EXPECT_EQ(peakPercent(32767), 100);
    EXPECT_EQ(peakPercent(CaptureEngine::kEngineUnavailable), 0);
}

TEST_F(MeterPollTest, OnlyANewMaximumRestartsThatChannelsHoldTimer) {
    timer3.start();
    timer4.start();
    QTRY_VERIFY(timer3.remainingTime() < 1700);
    pollPercent(0, 40);
    EXPECT_EQ(meters.right().holdPercent, 40);
    EXPECT_GT(timer3.remainingTime(), 1700);
    EXPECT_LT(timer4.remainingTime(), 1700);

    QTRY_VERIFY(timer3.remainingTime() < 1700);
    pollPercent(0, 10);
    pollPercent(0, 30);
    EXPECT_EQ(meters.right().holdPercent, 40);
    EXPECT_LT(timer3.remainingTime(), 1700);
}

TEST_F(MeterPollTest, AfterTheHoldIsReleasedOnlyALevelAboveTwoSetsANewMarker) {
    pollPercent(80, 0); // marker at rows 15 and 16
    const QImage before = left.image();
    pollPercent(80, 0);
    meters.leftHoldTick();
    EXPECT_EQ(meters.left().holdPercent, 0);
    pollPercent(2, 0);
    EXPECT_EQ(left.image(), before);

    pollPercent(3, 0);
    EXPECT_EQ(meters.left().holdPercent, 3);
    EXPECT_EQ(left.image().pixel(0, 73), kPaleGreen);
    EXPECT_EQ(left.image().pixel(0, 15), kPaleGreen); // stays until painted over

    meters.leftHoldTick();
    pollPercent(1, 0); // unlit from the top, without a marker
    for (int y = 0; y < 74; ++y) {
        ASSERT_EQ(left.image().pixel(0, y), unlit(0, y)) << "y " << y;
    }
}

TEST_F(MeterPollTest, TimersDrivePollAndHoldRelease) {
    EXPECT_EQ(timer2.interval(), 50);
    EXPECT_EQ(timer3.interval(), 2000);
    engine.left = engine.right = 32767;
    timer3.setInterval(10);
    timer4.setInterval(10);
    meters.enableTimers();
    QTRY_COMPARE(meters.left().levelPercent, 100);
    meters.disableTimers();
    EXPECT_FALSE(timer2.isActive() || timer3.isActive() || timer4.isActive());
    timer3.start();
    timer4.start();
    QTRY_COMPARE(meters.right().holdPercent + meters.left().holdPercent, 0);
}

} // namespace
} // namespace kelvo
