// What counts as a webcast address. A show file may come from anyone, and its address is
// opened by itself at the show's start with nobody watching, so only network addresses a
// browser or player streams from are opened: never a file, a script, a desktop entry or an
// option for the opener.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvo {

// Longer than any stream's address; a longer one is not one the user typed.
inline constexpr std::size_t kMaxWebcastAddress = 2048;

struct CheckedAddress {
    // What the opener gets: the address with its scheme in lower case, "http://" put before
    // a bare host. Empty when there is nothing to open.
    std::string openable;
    // Why the address is not opened, naming it, for the user; empty when it is opened or
    // when there is none (an empty or blank text).
    std::string refusal;
};

// Accepts http, https, mms, mmsh, rtsp and rtmp addresses, the scheme in any case, blanks
// around the text trimmed; a bare host or host and path ("radio.example.com/live") is taken
// as http. Everything else is refused.
CheckedAddress checkWebcastAddress(std::string_view text);

} // namespace kelvo
