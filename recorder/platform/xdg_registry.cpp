#include "recorder/platform/xdg_registry.h"

#include "recorder/platform/atomic_file.h"
#include "recorder/platform/spawn_child.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kelvo {

namespace {

constexpr std::chrono::seconds kToolTimeout{5};

std::optional<std::string> fileContent(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Replaced {
    std::filesystem::path path;
    std::optional<std::string> previous;
};

void restore(const std::vector<Replaced>& replaced) {
    for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) {
        if (it->previous) {
            (void)replaceFileAtomically(it->path, *it->previous);
        } else {
            std::error_code error;
            std::filesystem::remove(it->path, error);
        }
    }
}

} // namespace

std::filesystem::path userHomeFolder() {
    const char* home = std::getenv("HOME");
    if (!home || home[0] == '\0') {
        const passwd* user = ::getpwuid(::getuid());
        home = user ? user->pw_dir : nullptr;
    }
    if (!home || home[0] == '\0')
        return {};
    return home;
}

std::filesystem::path xdgDataHome() {
    const char* configured = std::getenv("XDG_DATA_HOME");
    if (configured && configured[0] == '/')
        return configured;
    const std::filesystem::path home = userHomeFolder();
    if (home.empty())
        return {};
    return home / ".local" / "share";
}

XdgDesktopRegistry::XdgDesktopRegistry() : dataHome_(xdgDataHome()) {}

XdgDesktopRegistry::XdgDesktopRegistry(std::filesystem::path dataHome)
    : dataHome_(std::move(dataHome)) {}

bool XdgDesktopRegistry::install(const std::vector<DataFile>& files) {
    if (dataHome_.empty())
        return false;
    std::vector<Replaced> replaced;
    for (const DataFile& file : files) {
        const std::filesystem::path path = dataHome_ / file.relativePath;
        auto previous = fileContent(path);
        if (previous == file.content)
            continue;
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        if (error || replaceFileAtomically(path, file.content)) {
            restore(replaced);
            return false;
        }
        replaced.push_back({path, std::move(previous)});
    }
    if (!replaced.empty()) {
        runQuietly({"update-mime-database", (dataHome_ / "mime").string()}, kToolTimeout);
        runQuietly({"update-desktop-database", (dataHome_ / "applications").string()},
                   kToolTimeout);
    }
    return true;
}

bool runQuietly(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout) {
    if (arguments.empty())
        return false;
    SpawnOptions quiet;
    quiet.discardOutput = true;
    const pid_t pid =
        spawnChild(arguments.front(), {arguments.begin() + 1, arguments.end()}, quiet);
    if (pid < 0)
        return false;

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0 && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace kelvo
