// Where the desktop keeps its registry of file types: files under the user's data folder.
#pragma once

#include <string>
#include <vector>

namespace kelvo {

// One file of the association, relative to the user's data folder ($XDG_DATA_HOME).
struct DataFile {
    std::string relativePath;
    std::string content;
};

// Where the association is installed: the user's data folder of the desktop.
class DesktopRegistry {
public:
    virtual ~DesktopRegistry() = default;
    // All the files or none; true when all are in place.
    virtual bool install(const std::vector<DataFile>& files) = 0;
};

} // namespace kelvo
