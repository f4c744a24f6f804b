// Test double for the desktop's registry of file types: keeps what it was asked to install.
#pragma once

#include "recorder/shows/file_association.h"

namespace kelvo {

class FakeDesktopRegistry : public DesktopRegistry {
public:
    bool succeed = true;
    int installs = 0;
    std::vector<DataFile> files;

    bool install(const std::vector<DataFile>& newFiles) override {
        ++installs;
        if (succeed)
            files = newFiles;
        return succeed;
    }
};

} // namespace kelvo
