#include "recorder/recording/webcast_opener.h"

namespace kelvo {

int openWebcastAddress(ProcessLauncher& launcher, const std::string& address) {
    if (address.empty()) {
        return -1;
    }
    return launcher.start("xdg-open", {address}, {});
}

} // namespace kelvo
