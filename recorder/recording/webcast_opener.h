// Opens a webcast address with the desktop's own handler (xdg-open), so the browser or
// player starts playing while the recording already runs.
#pragma once

#include "recorder/platform/process_launcher.h"

#include <optional>
#include <string>
#include <string_view>

namespace kelvo {

// Why the address cannot be handed to the opener, as a message for the user; empty when it
// can. One that begins with "-" would reach xdg-open as an option.
std::optional<std::string> webcastAddressError(std::string_view address);

// Hands the address unchanged, as one argument; an empty or refused address opens nothing.
// Returns the opener's process id, or -1 when nothing was started.
int openWebcastAddress(ProcessLauncher& launcher, const std::string& address);

} // namespace kelvo
