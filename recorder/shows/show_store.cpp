#include "recorder/shows/show_store.h"

#include "recorder/shows/atomic_file.h"
#include "recorder/shows/show_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
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

// The file name of an existing regular file, else "".
std::string existingFileName(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return {};
    return path.filename().string();
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

std::optional<std::string> showNameFromCommandLine(const std::vector<std::string>& arguments) {
    std::string text;
    for (const auto& argument : arguments) {
        if (&argument != &arguments.front())
            text += ' ';
        text += argument;
    }
    if (text.empty())
        return std::nullopt;
    return existingFileName(text);
}

std::string showNameFromDroppedFiles(const std::vector<std::filesystem::path>& files) {
    if (files.empty())
        return {};
    return existingFileName(files.back());
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

    if (!std::filesystem::is_regular_file(path, error))
        return fail("not a file");
    const auto size = std::filesystem::file_size(path, error);
    if (error)
        return fail(error.message());
    if (size == 0)
        return loaded;
    if (size > kMaxShowFileBytes)
        return fail("too large to be a show file");
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in && !in.eof())
        return fail("could not be read");
    loaded.record = readShowFile(bytes).record;
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
    return std::filesystem::remove(path, error);
}

} // namespace kelvo
