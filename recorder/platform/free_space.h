// Room left on the disk that holds the recordings.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace kelvo {

// Bytes an unprivileged user may still write in `folder`; nullopt when that cannot be told.
using FreeSpaceProbe = std::function<std::optional<std::uint64_t>(const QString& folder)>;

// The probe on statvfs(3).
FreeSpaceProbe statvfsProbe();

// Whole minutes of recording that fit in freeBytes at bytesPerSecond (rounded down).
std::uint64_t minutesOfSpace(std::uint64_t freeBytes, std::uint64_t bytesPerSecond);

} // namespace kelvo
