// Show files on disk: one file per show in the configurations folder beside the program,
// named exactly like the show. The window keeps the current show name; this module turns
// names into files and back.
//
// Everything here runs on the window's thread; nothing is cached between calls.
#pragma once

#include "recorder/shows/show_file.h"
#include "recorder/shows/show_record.h"
#include "recorder/shows/show_settings.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

inline constexpr std::string_view kCaptionSuffix = " - KelvoRecorder";
inline constexpr std::string_view kShowFileExtension = ".cia";

// The file name with every ".cia" removed (letter case counts): "a.cia.b" gives "a.b".
std::string showTitle(std::string_view fileName);

// The main window's caption for a show title: "Morning - KelvoRecorder".
std::string showCaption(std::string_view title);

// A recording is named "SHOW-MM-dd-yy-HH-mm-ss.wav" (22 bytes after the name) and may take
// "-N" for a split or a taken name; the rest of a 255-byte file name is the show's.
inline constexpr std::size_t kMaxNewShowNameBytes = 255 - 22 - 8;

// Why a name cannot be a show name, as a message for the user; empty when it can. A valid
// name is one file name inside the configurations folder, never a path out of it.
std::optional<std::string> showNameError(std::string_view name);

// As showNameError, and also refuses names too long to make a recording's file name. For
// names the user gives now; shows that already exist keep loading under their names.
std::optional<std::string> newShowNameError(std::string_view name);

// The name as the user reads it. File names are kept as the bytes on disk; one that is not
// UTF-8 (copied from an old disk) is shown as Windows-1252, as its show files are read.
std::string readableShowName(std::string_view name);

// The file named by the program's arguments, which together, joined by blanks, are its path.
// Empty optional: there is no command line, it plays no part. Otherwise that path, or ""
// when no file is there (the loader makes that "Default"). A path wrapped in double quotes
// names no file.
std::optional<std::filesystem::path>
showFileFromCommandLine(const std::vector<std::string>& arguments);

// The file named by a drop: the last local file decides, and one that is missing or a folder
// gives "". Empty optional when no local file was dropped (web links): nothing changes.
std::optional<std::filesystem::path>
showFileFromDroppedFiles(const std::vector<std::filesystem::path>& files);

// The outcome of loading a show.
struct LoadedShow {
    // The current show name from now on: never empty, no double quotes.
    std::string showName;
    std::string title;
    std::string caption;
    // Nothing to apply when empty: the file is new, empty or holds no complete record.
    std::optional<LoadedShowRecord> record;
    // Why the file could not be made or read; loading carries on without it. The file is
    // then not this show's settings on screen, and must not be saved over.
    std::string problem;
};

// A show file opened from the desktop or dropped on the window.
struct OpenedShowFile {
    // The show to load: the file's name, or "" for "Default".
    std::string showName;
    // For the user when the file was not imported; empty otherwise.
    std::string notice;
    // The file the show was copied from when it was imported; empty otherwise.
    std::string importedFrom;
};

class ShowStore {
public:
    explicit ShowStore(std::filesystem::path programFolder);

    std::filesystem::path configurationsFolder() const;

    // Program folder + "/configurations/" + name; no extension is added.
    std::filesystem::path showPath(std::string_view showName) const;

    // Works out the effective name (double quotes removed, empty or unusable names become
    // "Default"), creates the file empty when it is missing and reads its last record.
    LoadedShow load(std::string_view showName) const;

    // Replaces the show's file atomically. Empty on success, else a message for the user;
    // an invalid name writes nothing.
    [[nodiscard]] std::optional<std::string> save(std::string_view showName,
                                                  const ShowRecord& record) const;

    // Names of the files in configurations, sorted by name ignoring letter case.
    std::vector<std::string> list() const;

    // Removes the show's file, and the settings kept beside it; false when the name is
    // invalid or no show file was removed.
    bool remove(std::string_view showName) const;

    // The settings kept beside a show's file: program folder + "/show-settings/" + name, one
    // "key=value" line each, so that the show list (which lists configurations) and the show
    // file's format stay as they are. A show without that file has none.
    std::filesystem::path sideSettingsPath(std::string_view showName) const;
    ShowSideSettings loadSide(std::string_view showName) const;
    // Replaces the file atomically; no settings remove it. Empty on success, else a message
    // for the user.
    [[nodiscard]] std::optional<std::string> saveSide(std::string_view showName,
                                                      const ShowSideSettings& side) const;

    // A file outside configurations is copied in (imported) when no show of its name exists
    // yet; an existing show is never replaced this way.
    OpenedShowFile open(const std::filesystem::path& file) const;

private:
    std::filesystem::path programFolder_;
};

} // namespace kelvo
