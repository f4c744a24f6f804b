#include "recorder/shows/show_store.h"

#include "recorder/platform/atomic_file.h"
#include "recorder/shows/show_file.h"
#include "recorder/shows/text_encoding.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace kelvo {

namespace {

// Far beyond any show file; a larger file is something else and is not read.
constexpr std::uintmax_t kMaxShowFileBytes = 1 << 20;
constexpr std::size_t kMaxFileNameBytes = 255;

std::string withoutQuotes(std::string_view text) {
    std::string out;
    std::copy_if(text.begin(), text.end(), std::back_inserter(out),
                 [](char c) { return c != '"'; });
    return out;
}

// The path of an existing regular file, else "".
std::filesystem::path existingFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return {};
    return path;
}

// A show file's bytes; on failure, why, with the bytes empty.
struct FileBytes {
    std::string bytes;
    std::string problem;
};

FileBytes readShowBytes(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return {{}, error ? error.message() : "not a file"};
    const auto size = std::filesystem::file_size(path, error);
    if (error)
        return {{}, error.message()};
    if (size > kMaxShowFileBytes)
        return {{}, "too large to be a show file"};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {{}, std::strerror(errno)};
    FileBytes file;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            file.problem = std::strerror(errno);
        if (got <= 0 || file.bytes.size() + static_cast<std::size_t>(got) > kMaxShowFileBytes) {
            if (got > 0)
                file.problem = "too large to be a show file";
            break;
        }
        file.bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (!file.problem.empty())
        file.bytes.clear();
    return file;
}

std::string foldedCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool lessByName(const std::string& a, const std::string& b) {
    const std::string foldedA = foldedCase(a);
    const std::string foldedB = foldedCase(b);
    return foldedA != foldedB ? foldedA < foldedB : a < b;
}

} // namespace

std::string showTitle(std::string_view fileName) {
    std::string title(fileName);
    for (std::size_t at = title.find(kShowFileExtension); at != std::string::npos;
         at = title.find(kShowFileExtension, at))
        title.erase(at, kShowFileExtension.size());
    return title;
}

std::string showCaption(std::string_view title) {
    return std::string(title) + std::string(kCaptionSuffix);
}

std::optional<std::string> showNameError(std::string_view name) {
    if (name.empty())
        return "Please enter a name for the show.";
    if (name == "." || name == "..")
        return "\"" + std::string(name) + "\" cannot be used as a show name.";
    if (name.find('/') != std::string_view::npos)
        return "A show name cannot contain \"/\".";
    if (name.find('\0') != std::string_view::npos)
        return "A show name cannot contain a NUL character.";
    // The loader removes double quotes, so such a name would be saved to one file and
    // loaded from another.
    if (name.find('"') != std::string_view::npos)
        return "A show name cannot contain a double quote (\").";
    if (name.size() > kMaxFileNameBytes)
        return "The show name is too long.";
    if (name.starts_with(kTemporaryFilePrefix))
        return "A show name cannot begin with \"" + std::string(kTemporaryFilePrefix) + "\".";
    return std::nullopt;
}

std::optional<std::string> newShowNameError(std::string_view name) {
    if (auto error = showNameError(name))
        return error;
    if (withoutControlCharacters(name) != name)
        return "A show name cannot contain control characters.";
    if (name.size() > kMaxNewShowNameBytes)
        return "The show name is too long: a show name can have at most " +
               std::to_string(kMaxNewShowNameBytes) +
               " bytes (letters outside English take two or more each), so that its "
               "recordings can be named after it.";
    return std::nullopt;
}

std::string readableShowName(std::string_view name) {
    return isValidUtf8(name) ? std::string(name) : windows1252ToUtf8(name);
}

std::optional<std::filesystem::path>
showFileFromCommandLine(const std::vector<std::string>& arguments) {
    std::string text;
    for (const auto& argument : arguments) {
        if (&argument != &arguments.front())
            text += ' ';
        text += argument;
    }
    if (text.empty())
        return std::nullopt;
    return existingFile(text);
}

std::optional<std::filesystem::path>
showFileFromDroppedFiles(const std::vector<std::filesystem::path>& files) {
    const auto last = std::find_if(files.rbegin(), files.rend(),
                                   [](const std::filesystem::path& file) { return !file.empty(); });
    if (last == files.rend())
        return std::nullopt;
    return existingFile(*last);
}

ShowStore::ShowStore(std::filesystem::path programFolder)
    : programFolder_(std::move(programFolder)) {}

std::filesystem::path ShowStore::configurationsFolder() const {
    return programFolder_ / "configurations";
}

std::filesystem::path ShowStore::showPath(std::string_view showName) const {
    return configurationsFolder() / std::string(showName);
}

LoadedShow ShowStore::load(std::string_view showName) const {
    LoadedShow loaded;
    loaded.showName = withoutQuotes(showName);
    if (loaded.showName.empty() || showNameError(loaded.showName))
        loaded.showName = kDefaultShowName;
    loaded.title = showTitle(loaded.showName);
    loaded.caption = showCaption(loaded.title);

    const std::filesystem::path path = showPath(loaded.showName);
    const auto fail = [&](const std::string& reason) {
        loaded.problem = path.string() + ": " + reason;
        return loaded;
    };
    std::error_code error;
    std::filesystem::create_directories(configurationsFolder(), error);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(std::strerror(errno));
    ::close(fd);

    const FileBytes file = readShowBytes(path);
    if (!file.problem.empty())
        return fail(file.problem);
    if (!file.bytes.empty())
        loaded.record = readShowFile(file.bytes).record;
    return loaded;
}

std::optional<std::string> ShowStore::save(std::string_view showName,
                                           const ShowRecord& record) const {
    if (auto nameError = showNameError(showName))
        return nameError;
    std::error_code error;
    std::filesystem::create_directories(configurationsFolder(), error);
    if (auto failure = replaceFileAtomically(showPath(showName), writeShowRecord(record)))
        return "The show \"" + std::string(showName) + "\" could not be saved in " +
               configurationsFolder().string() + ": " + *failure;
    return std::nullopt;
}

std::vector<std::string> ShowStore::list() const {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(configurationsFolder(), error), end;
         !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        std::string name = it->path().filename().string();
        if (!name.starts_with(kTemporaryFilePrefix))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), lessByName);
    return names;
}

bool ShowStore::remove(std::string_view showName) const {
    if (showNameError(showName))
        return false;
    const std::filesystem::path path = showPath(showName);
    std::error_code error;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, error)))
        return false;
    const bool removed = std::filesystem::remove(path, error);
    std::filesystem::remove(sideSettingsPath(showName), error);
    return removed;
}

std::filesystem::path ShowStore::sideSettingsPath(std::string_view showName) const {
    return programFolder_ / "show-settings" / std::string(showName);
}

ShowSideSettings ShowStore::loadSide(std::string_view showName) const {
    ShowSideSettings side;
    if (showNameError(showName))
        return side;
    const FileBytes file = readShowBytes(sideSettingsPath(showName));
    std::string_view rest = file.bytes;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::size_t equals = line.find('=');
        if (equals != 0 && equals != std::string_view::npos)
            side.values[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
    }
    return side;
}

std::optional<std::string> ShowStore::saveSide(std::string_view showName,
                                               const ShowSideSettings& side) const {
    if (auto nameError = showNameError(showName))
        return nameError;
    const std::filesystem::path path = sideSettingsPath(showName);
    std::error_code error;
    if (side.values.empty()) {
        std::filesystem::remove(path, error);
        return std::nullopt;
    }
    std::string content;
    for (const auto& [key, value] : side.values) {
        // A key with "=" or a line break could not be read back as itself.
        const std::string cleanKey = withoutControlCharacters(key);
        if (cleanKey.empty() || cleanKey != key || key.find('=') != std::string::npos)
            continue;
        content += key + "=" + withoutControlCharacters(value) + "\n";
    }
    std::filesystem::create_directories(path.parent_path(), error);
    if (auto failure = replaceFileAtomically(path, content))
        return "The settings of the show \"" + std::string(showName) + "\" could not be saved in " +
               path.parent_path().string() + ": " + *failure;
    return std::nullopt;
}

OpenedShowFile ShowStore::open(const std::filesystem::path& file) const {
    OpenedShowFile opened;
    if (file.empty())
        return opened;
    opened.showName = file.filename().string();
    if (showNameError(opened.showName))
        return opened; // the loader decides what such a name loads
    const std::filesystem::path target = showPath(opened.showName);
    std::error_code error;
    if (std::filesystem::equivalent(file, target, error))
        return opened;
    const std::string readable = readableShowName(opened.showName);
    const std::string shown = readableShowName(file.string());
    if (std::filesystem::exists(std::filesystem::symlink_status(target, error))) {
        opened.notice = "A show named \"" + readable + "\" already exists, so " + shown +
                        " was not imported; the existing show is loaded.";
        return opened;
    }
    const FileBytes bytes = readShowBytes(file);
    std::optional<std::string> failure;
    if (!bytes.problem.empty()) {
        failure = bytes.problem;
    } else {
        std::filesystem::create_directories(configurationsFolder(), error);
        failure = replaceFileAtomically(target, bytes.bytes);
    }
    if (failure)
        opened.notice = shown + " could not be imported into " +
                        readableShowName(configurationsFolder().string()) + ": " + *failure;
    else
        opened.importedFrom = file.string();
    return opened;
}

} // namespace kelvo
