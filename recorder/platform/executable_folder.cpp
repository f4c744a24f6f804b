#include "recorder/platform/executable_folder.h"

#include <filesystem>
#include <system_error>

namespace kelvo {

std::string executableFolder() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return exe.parent_path().string();
}

} // namespace kelvo
