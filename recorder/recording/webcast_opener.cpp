#include "recorder/recording/webcast_opener.h"

namespace kelvo {

std::optional<std::string> webcastAddressError(std::string_view address) {
    if (address.starts_with('-'))
        return "The webcast address \"" + std::string(address) +
               "\" begins with \"-\", so it was not opened. Please enter an address such as "
               "http://radio.example.com/live.m3u.";
    return std::nullopt;
}

int openWebcastAddress(ProcessLauncher& launcher, const std::string& address) {
    if (address.empty() || webcastAddressError(address)) {
        return -1;
    }
    return launcher.start("xdg-open", {address}, {});
}

} // namespace kelvo
