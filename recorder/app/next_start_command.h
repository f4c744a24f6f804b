// `KelvoRecorder --next-start`: the next scheduled start of any show, for a wake-up set from
// outside (rtcwake, a systemd timer). It reads the shows and nothing else: no window, no
// device, and a running recorder is not asked.
#pragma once

#include <QString>

#include <cstdio>

namespace kelvo {

// Prints "SECONDS YYYY-MM-DD HH:MM:SS SHOW" (seconds since the epoch, then local time) to
// `out` and returns 0; with no start within a week, says so on `err` and returns 1. With
// `everyShow` off only the show a start loads counts: "Default", with the window's defaults
// when its file holds no schedule.
int printNextStart(const QString& dataFolder, bool everyShow, std::FILE* out, std::FILE* err);

} // namespace kelvo
