#include "recorder/schedule/clock_text.h"

#include <cstdio>

namespace kelvo {

std::string clockText(const std::tm& local) {
    const int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d:%02d %s", hour, local.tm_min, local.tm_sec,
                  local.tm_hour < 12 ? "AM" : "PM");
    return text;
}

std::string clockLabelText(std::time_t now) {
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr)
        return {};
    return " " + clockText(local);
}

} // namespace kelvo
