#include "recorder/platform/free_space.h"

#include <QFile>

#include <sys/statvfs.h>

namespace kelvo {

FreeSpaceProbe statvfsProbe() {
    return [](const QString& folder) -> std::optional<std::uint64_t> {
        struct statvfs info {};
        if (statvfs(QFile::encodeName(folder).constData(), &info) != 0) {
            return std::nullopt;
        }
        // f_bavail, not f_bfree: the blocks kept for root are no use to the recorder.
        return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    };
}

std::uint64_t minutesOfSpace(std::uint64_t freeBytes, std::uint64_t bytesPerSecond) {
    return bytesPerSecond == 0 ? 0 : freeBytes / bytesPerSecond / 60;
}

} // namespace kelvo
