// A time zone's wall clock, as a show's schedule reads it: the local day, time of day and
// weekday of a moment, and the moment a local date and time begins.
//
// A show in no zone of its own follows the system's zone as the C library has it (TZ or
// /etc/localtime, read again after tzset()), so a laptop that travels takes its shows along.
// A named zone (an IANA name such as "America/New_York") keeps the broadcaster's own rules:
// its transitions are read once from QTimeZone and shared by every clock of that zone.
//
// Threads: a clock is a value; copies may be used on any thread. The shared tables are
// filled under a lock.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace kelvo {

inline constexpr std::int64_t kSecondsPerDay = 86400;

struct LocalMoment {
    std::int64_t day = 0; // local days since 1970-01-01
    int secondOfDay = 0;  // 0..86399
    int weekday = 0;      // 1 = Sunday .. 7 = Saturday
};

// Weekday number (1 = Sunday .. 7 = Saturday) of a local day.
int weekdayOfDay(std::int64_t day);

class ZoneClock {
public:
    // The system's zone.
    ZoneClock() = default;
    // `zone` an IANA name; empty, unknown or not shaped like a zone name: the system's zone.
    explicit ZoneClock(const std::string& zone);

    // The IANA name, empty for the system's zone.
    const std::string& zone() const { return zone_; }
    bool isSystem() const { return !table_; }

    // Seconds east of UTC in force at `t`.
    long offsetAt(std::time_t t) const;
    LocalMoment local(std::time_t t) const;
    // The earliest moment whose local time is `secondOfDay` on `day`. A time skipped when the
    // clocks go forward begins with the first moment after the gap (a start at 2:30 comes at
    // 3:00); a time repeated when they go back begins with its first pass. Assumes at most
    // one change of offset within any 28 hours, which every real zone satisfies.
    std::time_t startOf(std::int64_t day, int secondOfDay) const;

    bool operator==(const ZoneClock& other) const { return zone_ == other.zone_; }

    struct Transition {
        std::time_t at;
        long offset; // in force from `at` on
    };

private:
    std::string zone_;
    std::shared_ptr<const std::vector<Transition>> table_;
    long before_ = 0; // offset before the table's first transition
};

// Whether a clock of `zone` keeps that zone's rules, rather than the system's. The one test of
// a zone name, so that what the window calls unknown is what the schedule does not follow.
bool knownZone(const std::string& zone);
// "America/New_York" -> "New York": the place a zone is named after, as people say it.
std::string zonePlace(const std::string& zone);

} // namespace kelvo
