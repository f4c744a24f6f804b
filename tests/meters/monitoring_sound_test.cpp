#include "recorder/meters/level_meter.h"
#include "recorder/meters/meter_image.h"
#include "recorder/meters/meter_poll.h"
#include "recorder/meters/monitoring.h"
#include "recorder/platform/engine_library.h"
#include "tests/eventually.h"

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

TEST(MonitoringSound, MetersShowTheLevelOfAToneOnTheMonitorOfASink) {
    if (!run("pactl", {"info"})) {
        ASSERT_FALSE(qEnvironmentVariableIsSet("KELVO_PULSE_PID")) << "private server unreachable";
        GTEST_SKIP() << "no sound server reachable (scripts/sound-server starts one)";
    }
    struct RestoreSource {
        ~RestoreSource() { run("pactl", {"set-default-source", "microphone"}); }
    } restore;
    ASSERT_TRUE(run("pactl", {"set-default-source", "speakers.monitor"}));
    run("pactl", {"set-sink-volume", "speakers", "100%"});
    run("pactl", {"set-source-volume", "speakers.monitor", "100%"});
    QTemporaryDir folder;
    const QString tone = folder.filePath("tone.wav");
    ASSERT_TRUE(run("sox", {"-q", "-n", "-r", "48000", "-c", "2", tone, "synth", "20", "sine",
                            "1000", "vol", "0.5"}));
    QProcess player; // killed when it goes
    player.start("paplay", {"-d", "speakers", tone});
    ASSERT_TRUE(player.waitForStarted());

    EngineLibrary engine{KELVO_ENGINE_DIR};
    LevelMeter left{drawMeterImage()}, right{drawMeterImage()};
    QTimer timer2, timer3, timer4, timer8;
    QCheckBox check1;
    MeterPoll meters{engine, left, right, timer2, timer3, timer4};
    QStringList messages;
    Monitoring monitoring{engine, meters,  check1,
                          timer8, nullptr, [&](const QString& text) { messages.push_back(text); }};
    check1.setChecked(true);
    // The tone is at half of full scale: the bar reaches about row 37.
    EVENTUALLY_TRUE_WITHIN(meters.left().levelPercent >= 45 && meters.right().levelPercent >= 45,
                           5000);
    EXPECT_LE(meters.left().holdPercent, 55);
    EXPECT_EQ(left.image().pixel(0, 45), drawMeterImage().pixel(20, 45));

    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}

} // namespace
} // namespace kelvo
