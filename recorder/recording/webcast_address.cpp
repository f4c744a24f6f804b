#include "recorder/recording/webcast_address.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <utility>

namespace kelvo {

namespace {

constexpr std::array<std::string_view, 6> kSchemes{"http", "https", "mms", "mmsh", "rtsp", "rtmp"};
// Enough of the address to recognise it; a 40,000-character one is not read out in full.
constexpr std::size_t kShownLength = 80;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool isAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The address as the user can read it in one line: control characters spelled out, cut short.
std::string shown(std::string_view address) {
    std::string out;
    for (char c : address.substr(0, kShownLength)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += '?';
        } else {
            out += c;
        }
    }
    if (address.size() > kShownLength) {
        out += "...";
    }
    return out;
}

CheckedAddress refused(std::string_view address, const std::string& why) {
    return {{},
            "The webcast address \"" + shown(address) + "\" is not opened: " + why +
                ". Only network addresses (http, https, mms, mmsh, rtsp, rtmp) are opened; the "
                "show records without it."};
}

std::string tooLong() {
    return "it is longer than " + std::to_string(kMaxWebcastAddress) + " characters";
}

// Why a character cannot be in an address the opener is handed; empty when none is there.
std::string badCharacter(std::string_view address) {
    for (char c : address) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ' || c == '\t') {
            return "it holds a blank";
        }
        if (byte < 0x20 || byte == 0x7f) {
            return "it holds a line break or another control character";
        }
        if (c == '"' || c == '\'' || c == '`' || c == '\\' || c == '<' || c == '>') {
            return "it holds a quote, a backslash or an angle bracket";
        }
    }
    return {};
}

// The scheme before the first ":", if the text begins with one ("file:", "javascript:").
std::string_view schemeOf(std::string_view address) {
    const std::size_t colon = address.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAsciiAlpha(address[0])) {
        return {};
    }
    const std::string_view scheme = address.substr(0, colon);
    const bool valid = std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return isAsciiAlpha(c) || isAsciiDigit(c) || c == '+' || c == '-' || c == '.';
    });
    return valid ? scheme : std::string_view{};
}

// "radio.example.com:8000/live" reads like the scheme "radio.example.com", but it is a host
// and a port.
bool isHostAndPort(std::string_view address, std::string_view scheme) {
    std::size_t at = scheme.size() + 1;
    const std::size_t digits = at;
    while (at < address.size() && isAsciiDigit(address[at])) {
        ++at;
    }
    return at > digits && (at == address.size() || address[at] == '/' || address[at] == '?');
}

// A bare host is letters, digits, "-" and "." with at least one dot (or localhost), or an
// IPv6 address in brackets.
bool isBareHost(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        return true;
    }
    if (host.empty() || host.front() == '.' || host.front() == '-') {
        return false;
    }
    const bool letters = std::all_of(host.begin(), host.end(), [](char c) {
        return isAsciiAlpha(c) || isAsciiDigit(c) || c == '-' || c == '.' ||
               static_cast<unsigned char>(c) >= 0x80;
    });
    return letters && (host.find('.') != std::string_view::npos || lower(host) == "localhost");
}

} // namespace

CheckedAddress checkWebcastAddress(std::string_view text) {
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    if (first >= last) {
        return {};
    }
    const std::string_view address(&*first, static_cast<std::size_t>(last - first));
    if (address.size() > kMaxWebcastAddress) {
        return refused(address, tooLong());
    }
    if (address.front() == '-') {
        return refused(address, "it begins with \"-\"");
    }
    if (const std::string why = badCharacter(address); !why.empty()) {
        return refused(address, why);
    }
    const std::string_view scheme = schemeOf(address);
    if (!scheme.empty() && !isHostAndPort(address, scheme)) {
        const std::string name = lower(scheme);
        if (std::find(kSchemes.begin(), kSchemes.end(), name) == kSchemes.end()) {
            return refused(address, name == "file" ? "it is a file on this computer"
                                                   : "\"" + name + ":\" is not a network address");
        }
        const std::string_view rest = address.substr(scheme.size() + 1);
        if (!rest.starts_with("//") || rest.size() == 2 || rest[2] == '/' || rest[2] == '?' ||
            rest[2] == '#') {
            return refused(address, "it names no host");
        }
        return {name + ":" + std::string(rest), {}};
    }
    if (address.front() == '/' || address.front() == '.' || address.front() == '~') {
        return refused(address, "it is a file on this computer");
    }
    const std::size_t hostEnd = address.front() == '['
                                    ? address.find(']') + 1 // npos + 1 is 0: no host
                                    : address.find_first_of(":/?#");
    const std::string_view host = address.substr(0, hostEnd);
    if (!isBareHost(host)) {
        return refused(address, "it is neither a network address nor a host name");
    }
    // The limit holds for what is opened: a host just under it is over it once "http://" is
    // in front, and the address would be refused when checked again.
    std::string opened = "http://" + std::string(address);
    if (opened.size() > kMaxWebcastAddress) {
        return refused(address, tooLong());
    }
    return {std::move(opened), {}};
}

} // namespace kelvo
