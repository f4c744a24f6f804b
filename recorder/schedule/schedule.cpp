#include "recorder/schedule/schedule.h"

namespace kelvo {

int TimeOfDay::secondsOfDay() const {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return -1;
    return (hour * 60 + minute) * 60 + second;
}

bool weekdayChecked(const Schedule& schedule, int weekdayNumber) {
    if (weekdayNumber < 1 || weekdayNumber > 7)
        return false;
    return schedule.weekdays[static_cast<std::size_t>(weekdayNumber - 1)];
}

} // namespace kelvo
