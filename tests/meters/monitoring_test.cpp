#include "recorder/meters/level_meter.h"
#include "recorder/meters/meter_image.h"
#include "recorder/meters/meter_poll.h"
#include "recorder/meters/monitoring.h"
#include "tests/meters/fake_capture_engine.h"

#include <QCheckBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace kelvo {
namespace {

class MonitoringTest : public testing::Test {
protected:
    Monitoring::Hooks hooks() {
        return {[this](int value) { mixer.push_back("select " + std::to_string(value)); },
                [this] { mixer.push_back("level"); }, [this] { return recording; },
                [this](const QString& title, const QString& text) {
                    messages.push_back(title + ": " + text);
                }};
    }
    bool meterTimersActive() const {
        return timer2.isActive() && timer3.isActive() && timer4.isActive();
    }

    test::FakeCaptureEngine engine;
    LevelMeter left{drawMeterImage()}, right{drawMeterImage()};
    const QImage blank = left.image();
    QTimer timer2, timer3, timer4, timer8;
    QCheckBox check1;
    MeterPoll meters{engine, left, right, timer2, timer3, timer4};
    std::vector<std::string> mixer;
    QStringList messages;
    bool recording = false;
    Monitoring monitoring{engine, meters, check1, timer8, hooks()};
    const QString busy = QStringLiteral(
        "KelvoRecorder: KelvoInitializeMonitor: Audio Channel is in use by another Application");
};

TEST_F(MonitoringTest, TickingTheBoxMonitorsAt8000HzStereoWithoutAFileForAMinute) {
    engine.left = 32767;
    meters.poll();
    check1.setChecked(true);
    EXPECT_EQ(mixer, (std::vector<std::string>{"select 1", "level"}));
    EXPECT_EQ(engine.count("initialize"), 1);
    EXPECT_EQ(engine.startArguments, "0,2,8000,\"\"");
    EXPECT_EQ(monitoring.monitoringFlag(), -1);
    EXPECT_EQ(meters.left().holdPercent, 0);
    EXPECT_TRUE(meterTimersActive());
    EXPECT_TRUE(timer8.isActive());
    EXPECT_EQ(timer8.interval(), 60000);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MonitoringTest, BusyDeviceIsReportedOnceAndClearingShowsNothing) {
    engine.startResult = -3;
    check1.setChecked(true);
    EXPECT_EQ(messages, QStringList{busy});
    meters.poll();
    EXPECT_EQ(left.image(), blank);

    check1.setChecked(false);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_FALSE(monitoring.isMonitoring());
    EXPECT_FALSE(timer2.isActive() || timer3.isActive() || timer4.isActive());
}

TEST_F(MonitoringTest, StopMonitoringStopsOnceAndBlanksTheMetersButLeavesTheBoxTicked) {
    check1.setChecked(true);
    engine.left = engine.right = 20000;
    meters.poll();
    monitoring.stopMonitoring();
    check1.setChecked(false); // finds monitoring off
    EXPECT_EQ(engine.count("stopMonitor"), 1);
    EXPECT_FALSE(timer2.isActive());
    EXPECT_EQ(left.image(), blank);
    EXPECT_EQ(right.image(), blank);
    EXPECT_EQ(monitoring.monitoringFlag(), 0);
}

TEST_F(MonitoringTest, DuringARecordingTheBoxAndTheLimitTimerChangeNothing) {
    recording = true;
    check1.setChecked(true);
    EXPECT_TRUE(engine.calls.empty());

    recording = false;
    check1.setChecked(false);
    check1.setChecked(true);
    recording = true;
    monitoring.limitTimerTick();
    EXPECT_FALSE(timer8.isActive());
    EXPECT_TRUE(check1.isChecked());
    EXPECT_TRUE(monitoring.isMonitoring());
}

TEST_F(MonitoringTest, LimitTimerEndsMonitoringOnce) {
    timer8.setInterval(10);
    check1.setChecked(true);
    QTRY_VERIFY(!check1.isChecked());
    EXPECT_FALSE(monitoring.isMonitoring() || timer8.isActive());
    EXPECT_EQ(engine.count("stopMonitor"), 1);
}

TEST_F(MonitoringTest, TickingAgainStartsANewMinute) {
    timer8.setInterval(2000); // a shorter minute shows the restart sooner
    check1.setChecked(true);
    check1.setChecked(false);
    QTRY_VERIFY(timer8.remainingTime() < 1700);
    check1.setChecked(true);
    EXPECT_GT(timer8.remainingTime(), 1700);
}

TEST_F(MonitoringTest, MissingEngineIsNamedAndNothingPretendsToMonitor) {
    engine.initializeResult = CaptureEngine::kEngineUnavailable;
    engine.error = "libkelvo.so: cannot open shared object file";
    check1.setChecked(true);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("KelvoRecorder: "));
    EXPECT_TRUE(messages[0].contains(QString::fromStdString(engine.error)));
    EXPECT_EQ(engine.calls, std::vector<std::string>{"initialize"});
    EXPECT_FALSE(monitoring.isMonitoring() || check1.isChecked());
    EXPECT_FALSE(timer2.isActive() || timer8.isActive());
}

} // namespace
} // namespace kelvo
