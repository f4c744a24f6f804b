// Stream addresses and the playlists that lead to them (.m3u, .pls, .xspf). Only network
// addresses are ever taken, from the caller or from a playlist: a playlist from elsewhere
// must never point the engine at a local file or another scheme.
//
// Pure functions on text; fetching lives with the stream device.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvo::engine {

// Longest address the engine takes, from the caller or from a playlist.
constexpr std::size_t kMaxAddressBytes = 4096;
// Most of a playlist that is read; the rest is ignored.
constexpr std::size_t kMaxPlaylistBytes = 64 * 1024;

// http:// or https:// (any case) with a host, no control characters or spaces, at most
// kMaxAddressBytes.
bool isNetworkAddress(std::string_view address);

// The address's path ends in .m3u, .pls or .xspf (query and fragment aside): it is fetched
// and read as a playlist rather than opened as a stream. HLS (.m3u8) is a stream.
bool looksLikePlaylist(std::string_view address);

// The text is an HLS playlist (some stations name theirs .m3u): open it as a stream.
bool isHlsPlaylist(std::string_view text);

// The first entry of a PLS, XSPF or M3U text that is a network address, relative entries
// resolved against `base`; empty when there is none. Entries that are local paths or other
// schemes are skipped, never followed.
std::string firstPlaylistEntry(std::string_view text, std::string_view base);

// `entry` (absolute, //host/..., /path or relative) against the address of its playlist.
std::string resolveAddress(std::string_view entry, std::string_view base);

} // namespace kelvo::engine
