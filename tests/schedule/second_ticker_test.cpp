#include "recorder/schedule/second_ticker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace kelvo {
namespace {

using namespace std::chrono_literals;

// Loose on purpose: the machine may be busy.
TEST(SecondTicker, BringsAMisalignedTimerToTheStartOfTheSecond) {
    int argc = 1;
    char name[] = "schedule_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    while (phaseInSecond(std::chrono::system_clock::now()) < 550ms) {
        std::this_thread::sleep_for(10ms);
    }
    QTimer timer;
    timer.start(1000); // ticking around 600 ms past each second
    new SecondTicker(&timer);
    int ticks = 0, nearTheSecond = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        nearTheSecond += phaseInSecond(std::chrono::system_clock::now()) < 300ms;
    });
    QElapsedTimer elapsed;
    elapsed.start();
    while (ticks < 4 && elapsed.elapsed() < 10000) {
        app.processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    EXPECT_EQ(ticks, 4);
    EXPECT_GE(nearTheSecond, 3);
    EXPECT_EQ(timer.intervalAsDuration(), 1000ms);
}

} // namespace
} // namespace kelvo
