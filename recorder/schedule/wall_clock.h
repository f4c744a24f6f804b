// Local wall-clock time counted in seconds.
//
// A moment's wall second is its absolute time plus the UTC offset in force at that moment, as
// the C library's timezone rules say (TZ or /etc/localtime; call tzset() after changing TZ).
// Two moments that show the same local date and time share a wall second, which is how an
// hour repeated when the clocks go back is recognised; an hour skipped when they go forward
// shows as a jump of the wall second. Day arithmetic on wall seconds is exact, because the
// offset has already been applied.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

namespace kelvo {

using WallSecond = std::int64_t;

// Empty when the C library cannot convert `t`.
std::optional<WallSecond> wallSecond(std::time_t t);

// The highest wall second of any moment in [from, to]. After the clocks went back this is
// higher than the wall second of `to`. Assumes the offset changes at most once in any
// quarter of an hour, which every real timezone satisfies. Empty when from > to or either
// end cannot be converted.
std::optional<WallSecond> highestWallSecond(std::time_t from, std::time_t to);

// Seconds since local midnight, 0..86399.
int secondOfDay(WallSecond w);

// Local weekday number, 1 = Sunday .. 7 = Saturday.
int weekdayNumber(WallSecond w);

} // namespace kelvo
