// Desktop entries the program writes for itself: the file type's launcher and the entry that
// starts it at login. Both name the program by its full path, as a desktop entry's Exec key
// needs it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kelvo {

// The program's path as one argument of a desktop entry's Exec key, quoted where the path
// needs it and escaped for the key's string value.
std::string desktopExecProgram(std::string_view programPath);

// The argument that starts the window minimised, as a login start does.
inline constexpr std::string_view kMinimizedArgument = "--minimized";

// $XDG_CONFIG_HOME/autostart/kelvorecorder.desktop ($XDG_CONFIG_HOME when absolute, else
// ~/.config); empty when there is no home folder either.
std::filesystem::path loginStartEntryPath();

// The entry the desktop starts at login: the installed launcher's name, icon and comment,
// the program by its path, minimised.
std::string loginStartEntry(std::string_view programPath);

// Writes the entry (atomically, making its folder) or removes it. Empty on success, else the
// reason for the user. A program path that is no UTF-8 text is refused: the desktop could
// not read it back.
std::optional<std::string> setStartAtLogin(bool on, const std::filesystem::path& entry,
                                           const std::filesystem::path& program);

} // namespace kelvo
