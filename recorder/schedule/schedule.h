// A show's weekly schedule as the window's controls hold it: two times of day and seven
// weekday boxes, read in the show's time zone. Plain values; the window builds one from its
// controls on every clock tick.
#pragma once

#include "recorder/schedule/time_of_day.h"

#include <array>
#include <string>

namespace kelvo {

// The show setting, kept beside the show file, that names the zone of its schedule.
inline constexpr const char* kTimeZoneSetting = "timeZone";

struct Schedule {
    TimeOfDay start{1, 0, 0};
    TimeOfDay stop{5, 0, 0};
    // Index 0 is Sunday (weekday number 1) up to index 6, Saturday (weekday number 7).
    // Only a fully checked box counts as checked.
    std::array<bool, 7> weekdays{true, true, true, true, true, true, true};
    // The zone the times and weekdays are in: an IANA name, empty for the system's.
    std::string zone;

    bool operator==(const Schedule&) const = default;
};

// True when the box of `weekdayNumber` (1 = Sunday .. 7 = Saturday) is checked; false for
// any other number.
bool weekdayChecked(const Schedule& schedule, int weekdayNumber);

} // namespace kelvo
