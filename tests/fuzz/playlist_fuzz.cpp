// The playlist reader on any text: it never crashes, and never yields anything but a network
// address, whatever the playlist and its base claim.
#include "engine/playlist.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    using namespace kelvo::engine;
    for (std::string_view base :
         {std::string_view("http://radio.example/lists/a.pls"), text.substr(0, text.find('\n'))}) {
        const std::string entry = firstPlaylistEntry(text, base);
        if (!entry.empty() && !isNetworkAddress(entry))
            std::abort();
    }
    (void)isHlsPlaylist(text);
    (void)looksLikePlaylist(text);
    return 0;
}
