#include "recorder/schedule/schedule_controls.h"
#include "tests/schedule/qt_app.h"

#include <QCheckBox>
#include <QTimeEdit>

#include <gtest/gtest.h>

namespace kelvo {
namespace {

TEST(ScheduleControls, TakeWholeSecondsAndOnlyFullyCheckedBoxes) {
    test::qtApp();
    QTimeEdit start, stop;
    start.setDisplayFormat("h:mm AP"); // what the picker shows does not matter
    start.setTime(QTime(13, 5, 7));
    stop.setTime(QTime(0, 0, 0));
    std::array<QCheckBox*, 7> boxes{};
    QCheckBox sunday, monday;
    sunday.setChecked(true);
    monday.setTristate(true);
    monday.setCheckState(Qt::PartiallyChecked);
    boxes[0] = &sunday;
    boxes[1] = &monday;

    const Schedule schedule = scheduleFromControls(start, stop, boxes);
    EXPECT_EQ(schedule.start, (TimeOfDay{13, 5, 7}));
    EXPECT_EQ(schedule.stop, (TimeOfDay{0, 0, 0}));
    EXPECT_EQ(schedule.weekdays,
              (std::array<bool, 7>{true, false, false, false, false, false, false}));
    EXPECT_EQ(timeOfDay(QTime()).secondsOfDay(), -1);
}

} // namespace
} // namespace kelvo
