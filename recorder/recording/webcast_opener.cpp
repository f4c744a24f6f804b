#include "recorder/recording/webcast_opener.h"

#include "recorder/recording/webcast_address.h"

namespace kelvo {

int openWebcastAddress(ProcessLauncher& launcher, const std::string& address) {
    const CheckedAddress checked = checkWebcastAddress(address);
    if (checked.openable.empty()) {
        return -1;
    }
    return launcher.start("xdg-open", {checked.openable}, {});
}

} // namespace kelvo
