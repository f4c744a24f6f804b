#include "recorder/platform/desktop_entry.h"

#include "recorder/platform/atomic_file.h"
#include "recorder/platform/xdg_registry.h"

#include <QString>

#include <cstdlib>
#include <system_error>

namespace kelvo {

namespace {

bool needsExecQuoting(std::string_view text) {
    return text.empty() ||
           text.find_first_of(" \t\n\r\"'\\><~|&;$*?#()`") != std::string_view::npos;
}

// The escapes of a desktop entry's string values, applied after the Exec quoting.
std::string stringValueEscaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::string desktopExecProgram(std::string_view programPath) {
    std::string argument;
    if (needsExecQuoting(programPath)) {
        argument += '"';
        for (const char c : programPath) {
            if (c == '"' || c == '`' || c == '$' || c == '\\')
                argument += '\\';
            argument += c == '%' ? std::string("%%") : std::string(1, c);
        }
        argument += '"';
    } else {
        for (const char c : programPath)
            argument += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return stringValueEscaped(argument);
}

std::filesystem::path loginStartEntryPath() {
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path config;
    if (configured && configured[0] == '/') {
        config = configured;
    } else {
        const std::filesystem::path home = userHomeFolder();
        if (home.empty())
            return {};
        config = home / ".config";
    }
    return config / "autostart" / "kelvorecorder.desktop";
}

std::string loginStartEntry(std::string_view programPath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=KelvoRecorder\n"
           "Comment=Records scheduled radio shows and webcasts\n"
           "Exec=" +
           desktopExecProgram(programPath) + " " + std::string(kMinimizedArgument) +
           "\n"
           "Icon=kelvorecorder\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::optional<std::string> setStartAtLogin(bool on, const std::filesystem::path& entry,
                                           const std::filesystem::path& program) {
    if (entry.empty())
        return std::string("there is no home folder to keep the login entry in");
    std::error_code error;
    if (!on) {
        std::filesystem::remove(entry, error);
        if (error)
            return error.message();
        return std::nullopt;
    }
    const std::string programPath = program.string();
    if (!program.is_absolute() ||
        QString::fromUtf8(programPath).toUtf8().toStdString() != programPath ||
        programPath.find('\0') != std::string::npos)
        return "the program's path " + programPath + " cannot go into a desktop entry";
    std::filesystem::create_directories(entry.parent_path(), error);
    if (error)
        return error.message();
    return replaceFileAtomically(entry, loginStartEntry(programPath));
}

} // namespace kelvo
