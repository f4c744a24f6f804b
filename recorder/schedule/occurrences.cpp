#include "recorder/schedule/occurrences.h"

#include <QDate>

#include <cstdio>

namespace kelvo {

namespace {

// A start equal to the stop runs a whole day; a stop before the start is on the next day.
std::int64_t stopDayOffset(int start, int stop) {
    return stop <= start ? 1 : 0;
}

Occurrence occurrenceOn(const Schedule& schedule, const ZoneClock& zone, std::int64_t day) {
    const int start = schedule.start.secondsOfDay();
    const int stop = schedule.stop.secondsOfDay();
    Occurrence o;
    o.day = day;
    o.startAt = zone.startOf(day, start);
    o.stops = stop >= 0;
    o.stopAt =
        o.stops ? zone.startOf(day + stopDayOffset(start, stop), stop) : o.startAt + kSecondsPerDay;
    return o;
}

// Every occurrence starting on a local day from `firstDay` to `lastDay`, in order.
template <typename Keep>
std::vector<Occurrence> occurrencesOnDays(const Schedule& schedule, const ZoneClock& zone,
                                          std::int64_t firstDay, std::int64_t lastDay, Keep keep) {
    std::vector<Occurrence> result;
    if (schedule.start.secondsOfDay() < 0)
        return result;
    for (std::int64_t day = firstDay; day <= lastDay; ++day) {
        if (!weekdayChecked(schedule, weekdayOfDay(day)))
            continue;
        const Occurrence o = occurrenceOn(schedule, zone, day);
        // A show wholly inside the hour skipped when the clocks go forward has no time.
        if (o.stopAt > o.startAt && keep(o))
            result.push_back(o);
    }
    return result;
}

} // namespace

std::string Occurrence::key(const Schedule& schedule) const {
    const QDate date = QDate(1970, 1, 1).addDays(day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date.year(), date.month(),
                  date.day(), schedule.start.hour, schedule.start.minute, schedule.start.second);
    return text;
}

std::vector<Occurrence> occurrencesStarting(const Schedule& schedule, const ZoneClock& zone,
                                            std::time_t from, std::time_t to) {
    if (to <= from)
        return {};
    return occurrencesOnDays(
        schedule, zone, zone.local(from).day - 1, zone.local(to).day + 1,
        [&](const Occurrence& o) { return o.startAt > from && o.startAt <= to; });
}

std::vector<Occurrence> occurrencesAt(const Schedule& schedule, const ZoneClock& zone,
                                      std::time_t t) {
    const std::int64_t today = zone.local(t).day;
    return occurrencesOnDays(schedule, zone, today - 2, today + 1,
                             [&](const Occurrence& o) { return o.startAt <= t && t < o.stopAt; });
}

std::vector<std::time_t> stopsBetween(const Schedule& schedule, const ZoneClock& zone,
                                      std::time_t from, std::time_t to) {
    std::vector<std::time_t> result;
    const int stop = schedule.stop.secondsOfDay();
    if (stop < 0 || to <= from)
        return result;
    for (std::int64_t day = zone.local(from).day - 1; day <= zone.local(to).day + 1; ++day) {
        const std::time_t at = zone.startOf(day, stop);
        if (at > from && at <= to && (result.empty() || result.back() != at))
            result.push_back(at);
    }
    return result;
}

} // namespace kelvo
