#include "recorder/schedule/zone_clock.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <map>
#include <mutex>

namespace kelvo {

namespace {

struct Table {
    std::shared_ptr<const std::vector<ZoneClock::Transition>> transitions;
    long before = 0;
};

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Offsets reach from -12 h to +14 h, so the moments showing a local time lie within this much
// of it.
constexpr std::int64_t kReachBefore = 15 * 3600;
constexpr std::int64_t kReachAfter = 13 * 3600;

// IANA names, Qt's "UTC+05:30" among them, are made of these. QTimeZone opens any other name
// as a path below the zone folder: a setting anyone may edit must not have the program read
// some file as a zone, nor wait forever on a FIFO.
bool zoneShaped(const std::string& zone) {
    constexpr std::size_t kLongestName = 64;
    if (zone.empty() || zone.size() > kLongestName || zone.front() == '/' || zone.back() == '/' ||
        zone.find("//") != std::string::npos)
        return false;
    return std::all_of(zone.begin(), zone.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '/' || c == '_' || c == '-' || c == '+' || c == ':';
    });
}

Table tableOf(const std::string& zone) {
    static std::mutex lock;
    static std::map<std::string, Table> tables;
    const std::lock_guard<std::mutex> guard(lock);
    if (auto found = tables.find(zone); found != tables.end())
        return found->second;
    Table table;
    const QTimeZone qzone =
        zoneShaped(zone) ? QTimeZone(QByteArray::fromStdString(zone)) : QTimeZone();
    if (qzone.isValid()) {
        // Far enough either side of any recording this program will make.
        const QDateTime from(QDate(1990, 1, 1), QTime(0, 0), Qt::UTC);
        const QDateTime to(QDate(2100, 1, 1), QTime(0, 0), Qt::UTC);
        auto transitions = std::make_shared<std::vector<ZoneClock::Transition>>();
        for (const auto& t : qzone.transitions(from, to))
            transitions->push_back({static_cast<std::time_t>(t.atUtc.toSecsSinceEpoch()),
                                    static_cast<long>(t.offsetFromUtc)});
        table.before = qzone.offsetFromUtc(from);
        if (transitions->empty())
            transitions->push_back({from.toSecsSinceEpoch(), table.before});
        table.transitions = std::move(transitions);
    }
    tables.emplace(zone, table);
    return table;
}

} // namespace

int weekdayOfDay(std::int64_t day) {
    // 1 January 1970 was a Thursday, weekday number 5.
    return static_cast<int>(((day % 7) + 7 + 4) % 7) + 1;
}

ZoneClock::ZoneClock(const std::string& zone) {
    if (zone.empty())
        return;
    const Table table = tableOf(zone);
    if (!table.transitions)
        return;
    zone_ = zone;
    table_ = table.transitions;
    before_ = table.before;
}

long ZoneClock::offsetAt(std::time_t t) const {
    if (!table_) {
        std::tm local{};
        return localtime_r(&t, &local) ? local.tm_gmtoff : 0;
    }
    const auto after =
        std::upper_bound(table_->begin(), table_->end(), t,
                         [](std::time_t v, const Transition& x) { return v < x.at; });
    return after == table_->begin() ? before_ : std::prev(after)->offset;
}

LocalMoment ZoneClock::local(std::time_t t) const {
    const std::int64_t wall = static_cast<std::int64_t>(t) + offsetAt(t);
    LocalMoment m;
    m.day = floorDiv(wall, kSecondsPerDay);
    m.secondOfDay = static_cast<int>(wall - m.day * kSecondsPerDay);
    m.weekday = weekdayOfDay(m.day);
    return m;
}

std::time_t ZoneClock::startOf(std::int64_t day, int secondOfDay) const {
    const std::int64_t wall = day * kSecondsPerDay + secondOfDay;
    const long early = offsetAt(static_cast<std::time_t>(wall - kReachBefore));
    const long late = offsetAt(static_cast<std::time_t>(wall + kReachAfter));
    const auto shows = [&](std::time_t t) { return t + offsetAt(t) == wall; };
    const auto first = static_cast<std::time_t>(wall - early);
    if (shows(first))
        return first; // also the first pass of a repeated hour
    const auto second = static_cast<std::time_t>(wall - late);
    if (shows(second))
        return second;
    // Skipped: the gap ends at the change, between the two candidates.
    std::time_t lo = std::min(first, second), hi = std::max(first, second);
    while (hi - lo > 1) {
        const std::time_t mid = lo + (hi - lo) / 2;
        (offsetAt(mid) == early ? lo : hi) = mid;
    }
    return hi;
}

bool knownZone(const std::string& zone) {
    return !ZoneClock(zone).isSystem();
}

std::string zonePlace(const std::string& zone) {
    std::string place = zone.substr(zone.rfind('/') + 1);
    std::replace(place.begin(), place.end(), '_', ' ');
    return place;
}

} // namespace kelvo
