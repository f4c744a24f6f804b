// Where the recorder keeps its configurations and soundfiles folders.
//
// Beside the program, as users of a copied-in-place install expect; when that folder is
// not writable (a system-wide install), in the user's data folder instead, so recordings
// and shows are never lost to a permission error.
#pragma once

#include <QString>

namespace kelvo {

inline constexpr const char* kConfigurationsFolder = "configurations";

// Creates configurations/ and soundfiles/ in the first usable of programFolder and
// xdgDataHome/KelvoRecorder (xdgDataHome empty or relative: home/.local/share), and
// returns that folder. When neither can be used, returns the fallback anyway: the user is
// told by ensureDataFolders.
QString chooseDataFolder(const QString& programFolder, const QString& xdgDataHome,
                         const QString& home);

// Makes sure both folders exist in dataFolder; false when they cannot be created or written.
bool ensureDataFolders(const QString& dataFolder);

} // namespace kelvo
