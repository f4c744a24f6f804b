// Runs a test under a named timezone and puts the previous one back afterwards.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace kelvo::test {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            previous_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (previous_)
            ::setenv("TZ", previous_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

inline std::tm brokenDown(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return tm;
}

// A local time in the current zone; outside clock changes the daylight flag does not matter.
inline std::time_t localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm = brokenDown(year, month, day, hour, minute, second);
    return std::mktime(&tm);
}

// A moment given in UTC, for pinning down which of two equal local times is meant.
inline std::time_t utcTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm = brokenDown(year, month, day, hour, minute, second);
    return ::timegm(&tm);
}

} // namespace kelvo::test
