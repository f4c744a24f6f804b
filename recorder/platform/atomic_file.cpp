#include "recorder/platform/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

namespace {

std::string systemError(int error) {
    return std::strerror(error);
}

int openTemporary(const std::filesystem::path& folder, std::filesystem::path& made) {
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        made = folder / (std::string(kTemporaryFilePrefix) + std::to_string(getpid()) + '-' +
                         std::to_string((seed + attempt) % 1000000007ULL));
        const int fd = ::open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

bool writeAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::optional<std::string> replaceFileAtomically(const std::filesystem::path& target,
                                                 std::string_view content) {
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::filesystem::path temporary;
    const int fd = openTemporary(folder, temporary);
    if (fd < 0)
        return systemError(errno);

    // The new file takes over the old one's permissions rather than our defaults.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);

    int error = 0;
    if (!writeAll(fd, content) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return systemError(error);
    }
    syncFolder(folder);
    return std::nullopt;
}

} // namespace kelvo
