// Monitoring with the real engine, loaded by name, capturing a tone that plays into a sink of
// the private PulseAudio server through that sink's monitor.
#include "recorder/meters/level_meter.h"
#include "recorder/meters/meter_image.h"
#include "recorder/meters/meter_poll.h"
#include "recorder/meters/monitoring.h"
#include "recorder/recording/engine_library.h"

#include <QCheckBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace kelvo {
namespace {

bool run(const QString& program, const QStringList& arguments) {
    return QProcess::execute(program, arguments) == 0;
}

class MonitoringSound : public testing::Test {
protected:
    void SetUp() override {
        if (!run("pactl", {"info"})) {
            if (qEnvironmentVariableIsSet("KELVO_PULSE_PID")) {
                FAIL() << "the private sound server started for the tests is not reachable";
            }
            GTEST_SKIP() << "no sound server reachable (scripts/sound-server starts one)";
        }
        ASSERT_TRUE(run("pactl", {"set-default-source", "speakers.monitor"}));
        run("pactl", {"set-sink-volume", "speakers", "100%"});
        run("pactl", {"set-source-volume", "speakers.monitor", "100%"});
        const QString tone = folder.filePath("tone.wav");
        ASSERT_TRUE(run("sox", {"-q", "-n", "-r", "48000", "-c", "2", tone, "synth", "20", "sine",
                                "1000", "vol", "0.5"}));
        player.start("paplay", {"-d", "speakers", tone});
        ASSERT_TRUE(player.waitForStarted());
    }
    void TearDown() override {
        player.kill();
        player.waitForFinished();
        run("pactl", {"set-default-source", "microphone"});
    }

    QTemporaryDir folder;
    QProcess player;
    EngineLibrary engine{KELVO_ENGINE_DIR};
    LevelMeter left{drawMeterImage()}, right{drawMeterImage()};
    QTimer timer2, timer3, timer4, timer8;
    QCheckBox check1;
    MeterPoll meters{engine, left, right, timer2, timer3, timer4};
    QStringList messages;
    Monitoring monitoring{
        engine, meters, check1, timer8,
        Monitoring::Hooks{
            {}, {}, {}, [this](const QString&, const QString& text) { messages.push_back(text); }}};
};

TEST_F(MonitoringSound, MetersShowTheToneAndARecordingFindsTheDeviceFree) {
    check1.setChecked(true);
    // The tone is at half of full scale: the bar reaches about row 37.
    QTRY_VERIFY_WITH_TIMEOUT(meters.left().levelPercent >= 45 && meters.right().levelPercent >= 45,
                             5000);
    EXPECT_LE(meters.left().holdPercent, 55);
    EXPECT_EQ(left.image().pixel(0, 45), drawMeterImage().pixel(20, 45));

    // What start recording does: monitoring ends before the engine opens the device again.
    monitoring.stopMonitoring();
    EXPECT_EQ(engine.initialize(), 0);
    EXPECT_EQ(engine.startMonitor(0, 2, 44100, ""), 0);
    EXPECT_EQ(engine.stopMonitor(), 0);
    check1.setChecked(false);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}

} // namespace
} // namespace kelvo
