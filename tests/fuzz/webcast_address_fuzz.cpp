// A show's webcast address comes from anyone and is opened with nobody watching. Whatever
// the text, what may be opened is a network address of one of the schemes, one argument
// that no opener reads as an option, a file or a second argument, and checking it again
// changes nothing.
#include "recorder/recording/webcast_address.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kelvo::CheckedAddress checked = kelvo::checkWebcastAddress(text);
    require(checked.openable.empty() || checked.refusal.empty());
    if (checked.openable.empty())
        return 0;
    const std::string& address = checked.openable;
    require(address.size() <= kelvo::kMaxWebcastAddress);
    bool known = false;
    for (const char* scheme : {"http://", "https://", "mms://", "mmsh://", "rtsp://", "rtmp://"})
        known = known || address.starts_with(scheme);
    require(known);
    for (char c : address) {
        const auto byte = static_cast<unsigned char>(c);
        require(byte > 0x20 && byte != 0x7f && c != '"' && c != '\'' && c != '\\');
    }
    require(kelvo::checkWebcastAddress(address).openable == address);
    return 0;
}
