#include "recorder/meters/level_meter.h"
#include "recorder/meters/meter_image.h"
#include "recorder/meters/meter_poll.h"
#include "recorder/meters/monitoring.h"
#include "tests/eventually.h"
#include "tests/recording/fakes.h"

#include <QCheckBox>
#include <QPaintEvent>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>
#include <utility>
#include <vector>

namespace kelvo {
namespace {

using Calls = std::vector<std::string>;
constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kYellow = qRgb(255, 255, 1);
constexpr QRgb kPaleGreen = qRgb(192, 255, 192);

// What a meter shows at (x, y) lit or unlit: its bar of the meter image, black below it.
QRgb bar(bool lit, int x, int y) {
    static const QImage image = drawMeterImage();
    return y < 74 ? image.pixel((lit ? 20 : 10) + x, y) : qRgb(0, 0, 0);
}

// Columns 0..4 lit from row litFrom down, a marker of `colour` in markerRow and the row below
// it (none: -1); the rest unlit.
void expectMeter(const QImage& shown, int litFrom, int markerRow, QRgb colour) {
    for (int y = 0; y < LevelMeter::kHeight; ++y) {
        for (int x = 0; x < LevelMeter::kWidth; ++x) {
            const bool marker = x < 5 && markerRow >= 0 && (y == markerRow || y == markerRow + 1);
            ASSERT_EQ(shown.pixel(x, y), marker ? colour : bar(x < 5 && y >= litFrom, x, y))
                << "x " << x << " y " << y;
        }
    }
}

TEST(LevelMeter, BarAndMarkerLightTheRoundedRowsInTheColourOfTheirBand) {
    constexpr int kNone = -1, kBase = LevelMeter::kHeight;
    // A rise (level, hold), a fall (level, hold; none: -1), then the bar's first lit row and
    // the marker's row and colour. Rows are round(75 - p * 0.75), halves to even: at 2, 6, 10
    // ... percent the row lies on a half; the green rows where that shows are dark dividers,
    // so 86 percent (row 10.5) tells it. A level of 1 lights no row.
    const std::tuple<int, int, int, int, int, int, QRgb> cases[] = {
        {100, 100, kNone, 0, 0, 0, kRed},
        {100, 100, 0, 60, kBase, 30, kPaleGreen},
        {100, 0, 2, 0, 74, kNone, 0},
        {100, 0, 6, 0, 70, kNone, 0},
        {100, 0, 10, 0, 68, kNone, 0},
        {100, 0, 86, 0, 10, kNone, 0},
        {100, 0, 50, 0, 38, kNone, 0},
        {100, 0, 98, 0, 2, kNone, 0},
        {100, 0, 1, 0, 74, kNone, 0},
        {100, 0, 99, 0, 1, kNone, 0},
        {1, 1, kNone, 0, kBase, 74, kPaleGreen},
        {1, 95, kNone, 0, kBase, 4, kRed},
        {1, 93, kNone, 0, kBase, 5, kYellow},
        {1, 84, kNone, 0, kBase, 12, kYellow},
        {1, 83, kNone, 0, kBase, 13, kPaleGreen}};
    for (const auto& [level, hold, fallLevel, fallHold, litFrom, markerRow, colour] : cases) {
        LevelMeter meter(drawMeterImage());
        meter.drawMeterRise(level, hold);
        if (fallLevel != kNone) {
            meter.drawMeterFall(fallLevel, fallHold);
        }
        SCOPED_TRACE(::testing::Message() << level << " " << hold << " " << fallLevel);
        expectMeter(meter.image(), litFrom, markerRow, colour);
    }
}

// The rows of each paint event a widget gets.
struct PaintedRows : QObject {
    std::vector<std::pair<int, int>> rows; // first, last
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const QRect r = static_cast<QPaintEvent*>(event)->rect();
            rows.emplace_back(r.top(), r.bottom());
        }
        return false;
    }
};

TEST(LevelMeter, RepaintsOnlyTheRowsADrawChangedAndNeverTheUnchangingBase) {
    LevelMeter meter(drawMeterImage());
    meter.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&meter));
    PaintedRows painted;
    meter.installEventFilter(&painted);
    using Rows = std::vector<std::pair<int, int>>;
    const std::function<void()> draws[] = {
        // Row 37 is a dark divider, alike lit and unlit; rows 73 and 74 are the black base.
        [&] { meter.drawMeterRise(50, 50); }, // bar from row 37, marker at 38..39
        [&] { meter.drawMeterRise(50, 50); }, // the same again
        [&] { meter.drawMeterRise(60, 60); }, // bar from 30 over the old marker; marker 30..31
        [&] { meter.drawMeterFall(40, 60); }, // unlit down to row 44, marker kept
        [&] { meter.drawMeterFall(0, 0); },   // unlit down to the base
        [&] { meter.clearMeter(); },          // unlit already
    };
    const Rows expected[] = {{{38, 72}}, {}, {{30, 39}}, {{32, 44}}, {{30, 72}}, {}};
    for (std::size_t i = 0; i < std::size(draws); ++i) {
        painted.rows.clear();
        draws[i]();
        if (expected[i].empty()) {
            QTest::qWait(50);
        } else {
            EVENTUALLY_TRUE(!painted.rows.empty());
        }
        EXPECT_EQ(painted.rows, expected[i]) << "draw " << i;
        EXPECT_EQ(meter.grab().toImage().convertToFormat(QImage::Format_RGB32), meter.image())
            << "draw " << i;
    }
}

class MetersTest : public ::testing::Test {
protected:
    void pollPercent(int leftPercent, int rightPercent) {
        engine.left = (leftPercent * 32767 + 99) / 100;
        engine.right = (rightPercent * 32767 + 99) / 100;
        meters.poll();
    }
    bool anyTimerActive() const {
        return timer2.isActive() || timer3.isActive() || timer4.isActive() || timer8.isActive();
    }

    testing::FakeCaptureEngine engine;
    LevelMeter left{drawMeterImage()}, right{drawMeterImage()};
    const QImage blank = left.image();
    QTimer timer2, timer3, timer4, timer8;
    QCheckBox check1;
    MeterPoll meters{engine, left, right, timer2, timer3, timer4};
    // The mixer calls and the messages go to the engine's log, so their order shows.
    testing::FakeSourceSelection sources{engine.calls};
    Monitoring monitoring{engine,
                          meters,
                          check1,
                          timer8,
                          &sources,
                          [this](const QString& text) {
                              engine.calls.push_back("box: " + text.toStdString()); }};
};
using MeterPollTest = MetersTest;
using MonitoringTest = MetersTest;

TEST_F(MeterPollTest, OnlyANewMaximumHoldsAndAfterTheReleaseALevelAboveTwoSetsANewMarker) {
    timer3.start();
    timer4.start();
    EVENTUALLY_TRUE(timer3.remainingTime() < 1700);
    pollPercent(0, 40); // restarts the right channel's hold timer only
    EXPECT_TRUE(timer3.remainingTime() > 1700 && timer4.remainingTime() < 1700);
    EVENTUALLY_TRUE(timer3.remainingTime() < 1700);
    pollPercent(0, 30);
    EXPECT_TRUE(meters.right().holdPercent == 40 && timer3.remainingTime() < 1700);

    pollPercent(80, 0); // marker at rows 15 and 16
    const QImage before = left.image();
    pollPercent(80, 0);
    meters.leftHoldTick();
    pollPercent(2, 0);
    EXPECT_EQ(left.image(), before);
    pollPercent(3, 0);
    EXPECT_EQ(meters.left().holdPercent, 3);
    EXPECT_EQ(left.image().pixel(0, 73), kPaleGreen);
    EXPECT_EQ(left.image().pixel(0, 15), kPaleGreen); // stays until painted over

    meters.leftHoldTick();
    pollPercent(1, 0); // unlit from the top, without a marker
    for (int y = 0; y < 74; ++y)
        ASSERT_EQ(left.image().pixel(0, y), bar(false, 0, y)) << "y " << y;
    EXPECT_EQ(peakPercent(CaptureEngine::kEngineUnavailable), 0); // never below the bar
}

TEST_F(MonitoringTest, TickingTheBoxMonitorsAt8000HzStereoWithoutAFile) {
    engine.left = 32767;
    meters.poll();
    check1.setChecked(true);
    EXPECT_EQ(engine.calls,
              (Calls{"source", "setSource speakers.monitor", "initialize", "startMonitor"}))
        << "the engine is told the chosen source; the server's default is left alone";
    EXPECT_EQ(engine.starts, Calls{"0,2,8000,"});
    EXPECT_EQ(meters.left().holdPercent, 0);
    EXPECT_TRUE(timer2.isActive() && timer3.isActive() && timer4.isActive());

    // A recording takes the engine: the box stays ticked but is locked; it is cleared when
    // the recording gives the engine back.
    meters.poll();
    monitoring.lendEngineToRecording();
    EXPECT_TRUE(check1.isChecked() && !check1.isEnabled() && !monitoring.isMonitoring());
    EXPECT_EQ(left.image(), blank);
    EXPECT_FALSE(timer2.isActive());
    monitoring.engineReturned();
    EXPECT_TRUE(!check1.isChecked() && check1.isEnabled());
    EXPECT_EQ(engine.calls.back(), "stopMonitor");
    EXPECT_EQ(engine.calls.size(), 5u);
}

TEST_F(MonitoringTest, BusyDeviceIsReportedOnceAndClearingShowsNothing) {
    const std::pair<int, int> failures[] = {{-1, -3}, {0, -3}}; // initialize, startMonitor
    for (const auto& [initialize, start] : failures) {
        std::tie(engine.initializeResult, engine.startResult) = std::tie(initialize, start);
        engine.calls.clear();
        check1.setChecked(true);
        const auto boxes = std::count_if(engine.calls.begin(), engine.calls.end(),
                                         [](const std::string& c) { return c.starts_with("box"); });
        EXPECT_EQ(boxes, 1) << initialize << " " << start;
        EXPECT_EQ(engine.calls.back(), "box: KelvoInitializeMonitor: Audio Channel is in "
                                       "use by another Application");
        engine.calls.clear();
        check1.setChecked(false);
        EXPECT_EQ(engine.calls, Calls{"stopMonitor"});
        EXPECT_FALSE(monitoring.isMonitoring() || timer2.isActive() || timer3.isActive());
    }
}

TEST_F(MonitoringTest, MissingEngineIsNamedAndNothingPretendsToMonitor) {
    engine.initializeResult = CaptureEngine::kEngineUnavailable;
    engine.loadErrorText = "libkelvo.so: cannot open shared object file";
    check1.setChecked(true);
    EXPECT_EQ(engine.calls, (Calls{"source", "setSource speakers.monitor", "initialize",
                                   "box: The capture engine libkelvo.so could not be loaded, so "
                                   "nothing can be recorded or monitored.\n\n" +
                                       engine.loadErrorText}));
    EXPECT_FALSE(monitoring.isMonitoring() || check1.isChecked() || anyTimerActive());
}

TEST_F(MonitoringTest, LimitTimerEndsMonitoringButDuringARecordingOnlyDisablesItself) {
    timer8.setInterval(10);
    check1.setChecked(true);
    monitoring.lendEngineToRecording();
    EVENTUALLY_TRUE(!timer8.isActive());
    EXPECT_TRUE(check1.isChecked()) << "the recording clears it when it ends";

    monitoring.engineReturned();
    check1.setChecked(true);
    engine.calls.clear();
    EVENTUALLY_TRUE(!check1.isChecked());
    EXPECT_EQ(engine.calls, Calls{"stopMonitor"});
    EXPECT_FALSE(monitoring.isMonitoring() || anyTimerActive());
}

} // namespace
} // namespace kelvo
