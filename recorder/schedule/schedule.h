// A show's weekly schedule as the window's controls hold it: two times of day and seven
// weekday boxes. Plain values; the window builds one from its controls on every clock tick.
#pragma once

#include <array>

namespace kelvo {

// A time of day to the whole second, with no date part and no text form, so that matching
// does not depend on the locale's time format.
struct TimeOfDay {
    int hour = 0;   // 0..23
    int minute = 0; // 0..59
    int second = 0; // 0..59

    // Seconds since midnight, or -1 when a field is out of range (an invalid picker value),
    // which then matches no second of any day.
    int secondsOfDay() const;

    bool operator==(const TimeOfDay&) const = default;
};

struct Schedule {
    TimeOfDay start{1, 0, 0};
    TimeOfDay stop{5, 0, 0};
    // Index 0 is Sunday (weekday number 1) up to index 6, Saturday (weekday number 7).
    // Only a fully checked box counts as checked.
    std::array<bool, 7> weekdays{true, true, true, true, true, true, true};
};

// True when the box of `weekdayNumber` (1 = Sunday .. 7 = Saturday) is checked; false for
// any other number.
bool weekdayChecked(const Schedule& schedule, int weekdayNumber);

} // namespace kelvo
