#include "recorder/schedule/wall_clock.h"

#include <algorithm>

namespace kelvo {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Probe spacing when looking for offset changes; see the assumption in the header.
constexpr std::time_t kProbe = 900;

std::optional<long> offsetAt(std::time_t t) {
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return std::nullopt;
    return local.tm_gmtoff;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

std::optional<WallSecond> wallSecond(std::time_t t) {
    const auto offset = offsetAt(t);
    if (!offset)
        return std::nullopt;
    return static_cast<WallSecond>(t) + *offset;
}

std::optional<WallSecond> highestWallSecond(std::time_t from, std::time_t to) {
    if (from > to || !offsetAt(from) || !offsetAt(to))
        return std::nullopt;
    // Everything between two convertible moments converts too.
    const auto offset = [](std::time_t t) { return offsetAt(t).value_or(0); };

    // The offset is constant in pieces, so the highest wall second ends one of them.
    WallSecond best = static_cast<WallSecond>(to) + offset(to);
    std::time_t pieceStart = from;
    while (true) {
        const long pieceOffset = offset(pieceStart);
        std::time_t pieceEnd = pieceStart;
        bool changed = false;
        while (pieceEnd < to && !changed) {
            std::time_t probe = std::min(pieceEnd + kProbe, to);
            if (offset(probe) == pieceOffset) {
                pieceEnd = probe;
                continue;
            }
            while (probe - pieceEnd > 1) {
                const std::time_t mid = pieceEnd + (probe - pieceEnd) / 2;
                (offset(mid) == pieceOffset ? pieceEnd : probe) = mid;
            }
            changed = true;
        }
        best = std::max(best, static_cast<WallSecond>(pieceEnd) + pieceOffset);
        if (pieceEnd >= to)
            return best;
        pieceStart = pieceEnd + 1;
    }
}

int secondOfDay(WallSecond w) {
    return static_cast<int>(w - floorDiv(w, kSecondsPerDay) * kSecondsPerDay);
}

int weekdayNumber(WallSecond w) {
    // 1 January 1970 was a Thursday, weekday number 5.
    const std::int64_t days = floorDiv(w, kSecondsPerDay);
    return static_cast<int>((days % 7 + 7 + 4) % 7) + 1;
}

} // namespace kelvo
