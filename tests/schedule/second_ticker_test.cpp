#include "recorder/schedule/second_ticker.h"
#include "tests/schedule/qt_app.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

TEST(SecondTicker, PhaseIsTheMillisecondsPastTheWholeSecond) {
    const std::chrono::system_clock::time_point second{std::chrono::seconds{1717740000}};
    EXPECT_EQ(phaseInSecond(second), 0ms);
    EXPECT_EQ(phaseInSecond(second + 999ms), 999ms);
    EXPECT_EQ(phaseInSecond(second + 1003ms), 3ms);
}

TEST(SecondTicker, AlignedTicksLieJustAfterTheSecond) {
    EXPECT_FALSE(tickIsAligned(0ms));
    EXPECT_TRUE(tickIsAligned(kTickLead));
    EXPECT_TRUE(tickIsAligned(kTickLead + 20ms));
    EXPECT_FALSE(tickIsAligned(kTickLead + 21ms));
    EXPECT_FALSE(tickIsAligned(999ms));
}

TEST(SecondTicker, DelayReachesTheLeadAfterTheNextSecond) {
    EXPECT_EQ(delayToNextTick(0ms), kTickLead);
    EXPECT_EQ(delayToNextTick(kTickLead), 1000ms);
    EXPECT_EQ(delayToNextTick(500ms), 500ms + kTickLead);
    EXPECT_EQ(delayToNextTick(999ms), 1ms + kTickLead);
}

QApplication& app() {
    return test::qtApp();
}

// Runs the event loop until `timer` has fired `count` times or 10 s have passed, and returns
// how far past its second each timeout came.
std::vector<milliseconds> phasesOfTimeouts(QTimer& timer, int count) {
    std::vector<milliseconds> phases;
    QObject::connect(&timer, &QTimer::timeout, [&phases] {
        phases.push_back(phaseInSecond(std::chrono::system_clock::now()));
    });
    QElapsedTimer elapsed;
    elapsed.start();
    while (static_cast<int>(phases.size()) < count && elapsed.elapsed() < 10000) {
        app().processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    return phases;
}

int countNearTheSecond(const std::vector<milliseconds>& phases) {
    int near = 0;
    for (const auto phase : phases)
        near += phase < 300ms;
    return near;
}

// Timing here is loose on purpose: the machine may be busy.
TEST(SecondTicker, BringsAMisalignedTimerToTheStartOfTheSecond) {
    app();
    while (phaseInSecond(std::chrono::system_clock::now()) < 550ms)
        std::this_thread::sleep_for(10ms);
    QTimer timer;
    timer.start(1000); // ticking around 600 ms past each second
    new SecondTicker(&timer);
    EXPECT_EQ(timer.timerType(), Qt::PreciseTimer);
    EXPECT_TRUE(timer.isActive());

    const auto phases = phasesOfTimeouts(timer, 4);
    ASSERT_EQ(phases.size(), 4u);
    EXPECT_GE(countNearTheSecond(phases), 3);
    EXPECT_EQ(timer.intervalAsDuration(), 1000ms);
}

TEST(SecondTicker, RealignsAfterATimerWasRestartedMidSecond) {
    app();
    QTimer timer;
    new SecondTicker(&timer);
    phasesOfTimeouts(timer, 1);
    while (phaseInSecond(std::chrono::system_clock::now()) < 450ms)
        std::this_thread::sleep_for(10ms);
    timer.start(1000); // as if the event loop had stalled and someone restarted it

    const auto phases = phasesOfTimeouts(timer, 4);
    ASSERT_EQ(phases.size(), 4u);
    EXPECT_GE(countNearTheSecond(phases), 2);
}

} // namespace
} // namespace kelvo
