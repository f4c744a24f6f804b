// The clock label's text. It is fixed to one form whatever the locale says, because the user
// compares it with the times on the show's schedule at a glance.
#pragma once

#include <ctime>
#include <string>

namespace kelvo {

// "h:mm:ss AM/PM" of a broken-down time: the hour on the 12-hour clock without a leading zero,
// e.g. "9:05:03 PM"; midnight is "12:00:00 AM", noon "12:00:00 PM".
std::string clockText(const std::tm& local);

// What the clock label shows at `now`: one blank followed by the clock text of the local time.
// Empty when the C library cannot convert `now`.
std::string clockLabelText(std::time_t now);

} // namespace kelvo
