// A schedule's occurrences: each ticked weekday's show, from its start to its stop, as
// moments. An occurrence is named by its show, its date and its start time in the show's
// zone; the scheduler acts on each at most once.
#pragma once

#include "recorder/schedule/schedule.h"
#include "recorder/schedule/zone_clock.h"

#include <ctime>
#include <string>
#include <vector>

namespace kelvo {

struct Occurrence {
    std::int64_t day = 0; // the local day of its start, in the show's zone
    std::time_t startAt = 0;
    // Its stop; with a stop time that matches no second, a day after the start, and
    // `stops` is false.
    std::time_t stopAt = 0;
    bool stops = true;

    // "2027-07-06 18:00:00": the date and start time in the show's zone.
    std::string key(const Schedule& schedule) const;
};

// The occurrences whose start lies in (from, to], in order.
std::vector<Occurrence> occurrencesStarting(const Schedule& schedule, const ZoneClock& zone,
                                            std::time_t from, std::time_t to);
// The occurrences under way at `t`: started at or before it and stopping after it.
std::vector<Occurrence> occurrencesAt(const Schedule& schedule, const ZoneClock& zone,
                                      std::time_t t);
// Every day's stop moment in (from, to], weekday or not: the stop ends a recording of the show
// however it was started.
std::vector<std::time_t> stopsBetween(const Schedule& schedule, const ZoneClock& zone,
                                      std::time_t from, std::time_t to);

} // namespace kelvo
