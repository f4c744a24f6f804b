#include "recorder/shows/file_association.h"

#include "recorder/platform/desktop_entry.h"
#include "recorder/platform/xdg_registry.h"
#include "recorder/shows/text_encoding.h"

#include <algorithm>

namespace kelvo {

namespace {

constexpr std::string_view kProgramName = "kelvorecorder";

bool isExtensionCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '+' || c == '-';
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string xmlEscaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::optional<FileType> fileTypeFor(std::string_view extension) {
    const auto first = extension.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return std::nullopt;
    extension = extension.substr(first, extension.find_last_not_of(" \t") - first + 1);
    if (extension.size() < 2 || extension.front() != '.' ||
        !std::all_of(extension.begin(), extension.end(), isExtensionCharacter))
        return std::nullopt;
    const std::string bare(extension.substr(1));
    return FileType{std::string(extension), bare + " File",
                    "application/x-" + std::string(kProgramName) + "-" + lowerCase(bare)};
}

std::string mimePackage(const FileType& type) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
           "  <mime-type type=\"" +
           xmlEscaped(type.mimeType) +
           "\">\n"
           "    <comment>" +
           xmlEscaped(type.typeName) +
           "</comment>\n"
           "    <sub-class-of type=\"text/plain\"/>\n"
           "    <glob pattern=\"*" +
           xmlEscaped(type.extension) +
           "\"/>\n"
           "  </mime-type>\n"
           "</mime-info>\n";
}

std::string desktopEntry(const FileType& type, std::string_view programPath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=KelvoRecorder\n"
           "Comment=Records scheduled radio shows and webcasts\n"
           "Exec=" +
           desktopExecProgram(programPath) +
           " %f\n"
           // The installed icon's name; without it this entry hides that icon.
           "Icon=kelvorecorder\n"
           "MimeType=" +
           type.mimeType +
           ";\n"
           "Categories=AudioVideo;Audio;Recorder;\n"
           "Terminal=false\n";
}

std::optional<std::vector<DataFile>> associationFiles(std::string_view extension,
                                                      const std::filesystem::path& program) {
    const auto type = fileTypeFor(extension);
    const std::string programPath = program.string();
    if (!type || programPath.empty() || !isValidUtf8(programPath) ||
        programPath.find('\0') != std::string::npos)
        return std::nullopt;
    return std::vector<DataFile>{
        {"mime/packages/" + std::string(kProgramName) + "-" + type->extension.substr(1) + ".xml",
         mimePackage(*type)},
        {"applications/" + std::string(kProgramName) + ".desktop",
         desktopEntry(*type, programPath)},
    };
}

bool associateFileType(std::string_view extension, const std::filesystem::path& program,
                       DesktopRegistry& registry) {
    const auto files = associationFiles(extension, program);
    return files && registry.install(*files);
}

bool associateFileType(std::string_view extension, const std::filesystem::path& program) {
    XdgDesktopRegistry registry;
    return associateFileType(extension, program, registry);
}

} // namespace kelvo
