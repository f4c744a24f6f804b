// A show's schedule from its settings, and the time of day of a time picker's value.
#pragma once

#include "recorder/schedule/schedule.h"
#include "recorder/shows/show_record.h"

class QTime;

namespace kelvo {

// The time of day of a picker value, to the whole second; an invalid QTime gives a
// TimeOfDay that matches no second.
TimeOfDay timeOfDay(const QTime& time);

// Only a weekday field of exactly 1 counts.
Schedule scheduleOf(const ShowRecord& show);

} // namespace kelvo
