#include "recorder/schedule/schedule_controls.h"

#include <QCheckBox>
#include <QTime>
#include <QTimeEdit>

namespace kelvo {

TimeOfDay timeOfDay(const QTime& time) {
    if (!time.isValid())
        return {-1, -1, -1};
    return {time.hour(), time.minute(), time.second()};
}

Schedule scheduleFromControls(const QTimeEdit& start, const QTimeEdit& stop,
                              const std::array<QCheckBox*, 7>& weekdays) {
    Schedule schedule;
    schedule.start = timeOfDay(start.time());
    schedule.stop = timeOfDay(stop.time());
    for (std::size_t day = 0; day < weekdays.size(); ++day)
        schedule.weekdays[day] = weekdays[day] && weekdays[day]->checkState() == Qt::Checked;
    return schedule;
}

} // namespace kelvo
