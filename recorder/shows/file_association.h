// Associating show files with the program, so that opening one from the desktop starts the
// program with that show. On this desktop an association is a shared-mime-info package that
// names the file type plus a desktop entry that opens it with the program.
#pragma once

#include "recorder/platform/desktop_entry.h"
#include "recorder/platform/desktop_registry.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

struct FileType {
    std::string extension; // ".cia"
    std::string typeName;  // "cia File": the extension without its dot + " File"
    std::string mimeType;  // "application/x-kelvorecorder-cia"
};

// Blanks at both ends are removed; the extension must then start with "." and consist of
// letters, digits and "._+-" (it ends up in file names and patterns). Empty when it does not.
std::optional<FileType> fileTypeFor(std::string_view extension);

std::string mimePackage(const FileType& type);

std::string desktopEntry(const FileType& type, std::string_view programPath);

// The files for the extension's association: the MIME package and the desktop entry. Empty
// when the extension is unusable or the program path is not UTF-8 text.
std::optional<std::vector<DataFile>> associationFiles(std::string_view extension,
                                                      const std::filesystem::path& program);

// Never shows anything: false when the extension is unusable or installing failed, in which
// case nothing was changed.
bool associateFileType(std::string_view extension, const std::filesystem::path& program,
                       DesktopRegistry& registry);

// Start-up's association: the extension with the program under the user's data folder.
bool associateFileType(std::string_view extension, const std::filesystem::path& program);

} // namespace kelvo
