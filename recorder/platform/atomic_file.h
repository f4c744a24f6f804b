// Replacing a file so that a crash or a full disk leaves either the old or the new content,
// never a truncated mix.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kelvo {

// Temporary files are made beside their target with this prefix, so that listings can leave
// out the ones a crash may have left behind.
inline constexpr std::string_view kTemporaryFilePrefix = ".~kelvo-save-";

// Writes the content to a new file in the target's folder, flushes it to the disk and
// renames it over the target. Empty on success, else the system's reason; on failure the
// target is untouched and the temporary file is gone.
std::optional<std::string> replaceFileAtomically(const std::filesystem::path& target,
                                                 std::string_view content);

} // namespace kelvo
