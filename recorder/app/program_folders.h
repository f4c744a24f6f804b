// Where the recorder keeps its configurations and soundfiles folders.
//
// Beside the program, as users of a copied-in-place install expect; when that folder cannot
// be written (a system-wide install), in the user's data folder instead, so recordings and
// shows are never lost to a permission error. A broken folder inside a writable program
// folder never moves the data: the user's shows are there, so the user is told instead.
#pragma once

#include <QString>

#include <optional>

namespace kelvo {

inline constexpr const char* kConfigurationsFolder = "configurations";
// A file in the program folder of a packaged install: data then always lives in the user's
// data folder.
inline constexpr const char* kSharedInstallMarker = "shared-install";

// programFolder when it or both its data folders can be written and it holds no
// kSharedInstallMarker, else
// xdgDataHome/KelvoRecorder (xdgDataHome empty or relative: home/.local/share). Creates the
// data folders where it can; what is wrong with them is dataFolderProblem's to tell.
QString chooseDataFolder(const QString& programFolder, const QString& xdgDataHome,
                         const QString& home);

// Creates configurations/ and soundfiles/ in dataFolder when missing. Empty when both can be
// used, else a message for the user naming each unusable folder, why, and what it stops.
std::optional<QString> dataFolderProblem(const QString& dataFolder);

// The user's home folder, from HOME or else the user database; never "/" for a missing HOME.
QString homeFolder();

} // namespace kelvo
