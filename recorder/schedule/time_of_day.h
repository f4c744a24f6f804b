// A time of day to the whole second, with no date part and no text form: the schedule
// matches it against the clock and show files store it, so both use this one type.
#pragma once

namespace kelvo {

struct TimeOfDay {
    int hour = 0;   // 0..23
    int minute = 0; // 0..59
    int second = 0; // 0..59

    // Seconds since midnight, or -1 when a field is out of range (an invalid picker value),
    // which then matches no second of any day.
    constexpr int secondsOfDay() const {
        if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
            return -1;
        return (hour * 60 + minute) * 60 + second;
    }

    bool operator==(const TimeOfDay&) const = default;
};

} // namespace kelvo
