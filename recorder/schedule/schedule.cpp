#include "recorder/schedule/schedule.h"

namespace kelvo {

bool weekdayChecked(const Schedule& schedule, int weekdayNumber) {
    if (weekdayNumber < 1 || weekdayNumber > 7)
        return false;
    return schedule.weekdays[static_cast<std::size_t>(weekdayNumber - 1)];
}

} // namespace kelvo
