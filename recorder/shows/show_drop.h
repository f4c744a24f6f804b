// Files dropped on the main window.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

class QMimeData;

namespace kelvo {

// The dropped files' local paths in the order given (addresses that are not local files give
// empty paths, which name no file). Empty optional when the drop carries no file list, so
// the drop is ignored.
std::optional<std::vector<std::filesystem::path>> droppedFiles(const QMimeData& data);

} // namespace kelvo
