// The clock label's text. It is fixed to one form whatever the locale says, because the user
// compares it with the times on the show's schedule at a glance.
#pragma once

#include <string>

namespace kelvo {

// One blank, then "h:mm:ss AM/PM": the hour on the 12-hour clock without a leading zero,
// e.g. " 9:05:03 PM"; midnight is " 12:00:00 AM", noon " 12:00:00 PM".
std::string clockLabelText(int hour, int minute, int second);

} // namespace kelvo
