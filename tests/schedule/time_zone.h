// Times for the tests: a zone to interpret them in, and moments written as text.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace kelvo::test {

inline void useTimeZone(const char* zone) {
    ::setenv("TZ", zone, 1);
    ::tzset();
}

// "06-07 01:00:00" is that local time in 2024; "11-03 05:30:00 Z" is that UTC time, to tell
// apart the two passes of an hour repeated when the clocks go back.
inline std::time_t at(const char* text) {
    std::tm tm{};
    char utc = 0;
    std::sscanf(text, "%d-%d %d:%d:%d %c", &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                &tm.tm_sec, &utc);
    tm.tm_year = 2024 - 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return utc == 'Z' ? ::timegm(&tm) : std::mktime(&tm);
}

} // namespace kelvo::test
