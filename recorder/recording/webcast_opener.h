// Opens a webcast address with the desktop's own handler (xdg-open), so the browser or
// player starts playing while the recording already runs.
#pragma once

#include "recorder/platform/process_launcher.h"

#include <string>

namespace kelvo {

// Hands the address, as checkWebcastAddress made it, as xdg-open's one argument; it always
// begins with its scheme, so it can never be read as an option. An empty or refused address
// opens nothing. Returns the opener's process id, or -1 when nothing was started.
int openWebcastAddress(ProcessLauncher& launcher, const std::string& address);

} // namespace kelvo
