#include "recorder/schedule/schedule_controls.h"

#include <QTime>

namespace kelvo {

TimeOfDay timeOfDay(const QTime& time) {
    if (!time.isValid())
        return {-1, -1, -1};
    return {time.hour(), time.minute(), time.second()};
}

Schedule scheduleOf(const ShowRecord& show) {
    Schedule schedule;
    schedule.start = show.startTime;
    schedule.stop = show.stopTime;
    for (std::size_t day = 0; day < show.weekdays.size(); ++day)
        schedule.weekdays[day] = show.weekdays[day] == 1;
    return schedule;
}

} // namespace kelvo
