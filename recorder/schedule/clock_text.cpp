#include "recorder/schedule/clock_text.h"

#include <cstdio>

namespace kelvo {

std::string clockLabelText(int hour, int minute, int second) {
    const int onTwelveHourClock = hour % 12 == 0 ? 12 : hour % 12;
    char text[40];
    std::snprintf(text, sizeof text, " %d:%02d:%02d %s", onTwelveHourClock, minute, second,
                  hour < 12 ? "AM" : "PM");
    return text;
}

} // namespace kelvo
