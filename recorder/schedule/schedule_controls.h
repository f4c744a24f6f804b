// Reads a Schedule off the window's controls: the two time pickers and the seven weekday
// boxes. Threads: the window's thread, like the controls.
#pragma once

#include "recorder/schedule/schedule.h"

#include <array>

class QCheckBox;
class QTime;
class QTimeEdit;

namespace kelvo {

// The time of day of a picker value, to the whole second; an invalid QTime gives a
// TimeOfDay that matches no second.
TimeOfDay timeOfDay(const QTime& time);

// `weekdays` runs from Sunday (Check2) to Saturday (Check8). Only a fully checked box counts;
// a partly checked or missing one does not.
Schedule scheduleFromControls(const QTimeEdit& start, const QTimeEdit& stop,
                              const std::array<QCheckBox*, 7>& weekdays);

} // namespace kelvo
