#include "engine/playlist.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

namespace kelvo::engine {
namespace {

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return lower(a) == lower(b); });
}

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           startsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// The text without a UTF-8 byte order mark, and only as much as is ever read.
std::string_view body(std::string_view text) {
    text = text.substr(0, kMaxPlaylistBytes);
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    return text;
}

// Calls f(line) for each line (CR, LF or CRLF ends one) until f returns true.
template <typename F> void eachLine(std::string_view text, F&& f) {
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        if (f(trim(text.substr(0, end))) || end == std::string_view::npos)
            return;
        text.remove_prefix(end + 1);
    }
}

std::string firstOf(std::string_view candidate, std::string_view base) {
    std::string address = resolveAddress(trim(candidate), base);
    return isNetworkAddress(address) ? address : std::string();
}

std::string firstPls(std::string_view text, std::string_view base) {
    // Entries are numbered; the lowest-numbered playable one is the first.
    std::string best;
    long bestNumber = LONG_MAX;
    eachLine(text, [&](std::string_view line) {
        if (!startsWithNoCase(line, "file"))
            return false;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return false;
        const std::string digits(trim(line.substr(4, eq - 4)));
        if (digits.empty() || digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return false;
        const long number = std::strtol(digits.c_str(), nullptr, 10);
        if (number >= bestNumber)
            return false;
        if (std::string address = firstOf(line.substr(eq + 1), base); !address.empty()) {
            best = std::move(address);
            bestNumber = number;
        }
        return false;
    });
    return best;
}

std::string xmlUnescape(std::string_view s) {
    std::string out;
    while (!s.empty()) {
        if (s.front() != '&') {
            out += s.front();
            s.remove_prefix(1);
            continue;
        }
        static constexpr std::pair<std::string_view, char> kEntities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        bool known = false;
        for (const auto& [name, c] : kEntities) {
            if (s.substr(0, name.size()) == name) {
                out += c;
                s.remove_prefix(name.size());
                known = true;
                break;
            }
        }
        if (!known) {
            // Numeric references and anything else are not an address's business.
            return {};
        }
    }
    return out;
}

std::string firstXspf(std::string_view text, std::string_view base) {
    constexpr std::string_view open = "<location>", close = "</location>";
    for (std::size_t at = 0; (at = text.find(open, at)) != std::string_view::npos;) {
        at += open.size();
        const std::size_t end = text.find(close, at);
        if (end == std::string_view::npos)
            return {};
        if (std::string address = firstOf(xmlUnescape(text.substr(at, end - at)), base);
            !address.empty())
            return address;
        at = end + close.size();
    }
    return {};
}

std::string firstM3u(std::string_view text, std::string_view base) {
    std::string found;
    eachLine(text, [&](std::string_view line) {
        if (line.empty() || line.front() == '#')
            return false;
        found = firstOf(line, base);
        return !found.empty();
    });
    return found;
}

} // namespace

bool isNetworkAddress(std::string_view address) {
    if (address.empty() || address.size() > kMaxAddressBytes)
        return false;
    if (std::any_of(address.begin(), address.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u <= 0x20 || u == 0x7F;
        }))
        return false;
    std::string_view rest;
    if (startsWithNoCase(address, "http://"))
        rest = address.substr(7);
    else if (startsWithNoCase(address, "https://"))
        rest = address.substr(8);
    else
        return false;
    // A host, not an empty authority (http:///etc/passwd) nor only a user part.
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = authority.rfind('@');
    const std::string_view host =
        at == std::string_view::npos ? authority : authority.substr(at + 1);
    return !host.empty() && host.front() != ':';
}

bool looksLikePlaylist(std::string_view address) {
    std::string_view path = address.substr(0, address.find_first_of("?#"));
    return endsWithNoCase(path, ".m3u") || endsWithNoCase(path, ".pls") ||
           endsWithNoCase(path, ".xspf");
}

bool isHlsPlaylist(std::string_view text) {
    text = body(text);
    return startsWithNoCase(trim(text), "#EXTM3U") &&
           text.find("#EXT-X-") != std::string_view::npos;
}

std::string firstPlaylistEntry(std::string_view text, std::string_view base) {
    text = body(text);
    const std::string_view start = trim(text);
    if (startsWithNoCase(start, "[playlist]"))
        return firstPls(text, base);
    if (start.substr(0, 1) == "<")
        return firstXspf(text, base);
    return firstM3u(text, base);
}

std::string resolveAddress(std::string_view entry, std::string_view base) {
    if (entry.empty() || entry.size() > kMaxAddressBytes)
        return {};
    // An entry with a scheme of its own stands alone (and is checked by the caller).
    const std::size_t colon = entry.find(':');
    if (colon != std::string_view::npos && colon > 0 &&
        std::isalpha(static_cast<unsigned char>(entry.front())) &&
        std::all_of(entry.begin(), entry.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        }))
        return std::string(entry);
    if (!isNetworkAddress(base))
        return {};
    const std::size_t schemeEnd = base.find("://") + 3;
    if (entry.substr(0, 2) == "//")
        return std::string(base.substr(0, schemeEnd - 2)) + std::string(entry);
    const std::size_t pathStart = base.find_first_of("/?#", schemeEnd);
    const std::string_view origin = base.substr(0, pathStart);
    if (entry.front() == '/')
        return std::string(origin) + std::string(entry);
    // A relative entry replaces the base's last path segment.
    std::string_view path =
        pathStart == std::string_view::npos ? std::string_view() : base.substr(pathStart);
    path = path.substr(0, path.find_first_of("?#"));
    const std::size_t slash = path.rfind('/');
    const std::string_view dir = slash == std::string_view::npos ? "/" : path.substr(0, slash + 1);
    return std::string(origin) + std::string(dir) + std::string(entry);
}

} // namespace kelvo::engine
