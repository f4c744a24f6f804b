// The desktop's registry of file types: files under the user's data folder, and the two
// tools that rebuild the caches the desktop actually reads.
#pragma once

#include "recorder/platform/desktop_registry.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvo {

// $HOME, or the home folder in the user database when HOME is unset or empty (a service or
// a cron job); empty when neither gives one.
std::filesystem::path userHomeFolder();

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share; empty when there is no
// home folder either.
std::filesystem::path xdgDataHome();

class XdgDesktopRegistry : public DesktopRegistry {
public:
    XdgDesktopRegistry();
    explicit XdgDesktopRegistry(std::filesystem::path dataHome);

    // Each file is replaced atomically; when one fails the ones before it get their old
    // content back. Files that already hold their content are left alone and nothing is
    // rebuilt, so a start with the association in place costs no tool runs. Afterwards
    // update-mime-database and update-desktop-database run where installed, silenced and
    // killed after a few seconds; their outcome does not count.
    bool install(const std::vector<DataFile>& files) override;

    const std::filesystem::path& dataHome() const { return dataHome_; }

private:
    std::filesystem::path dataHome_;
};

// Runs the program found on PATH without a shell, with no input and its output discarded;
// true when it ran and exited with 0 within the time allowed (it is killed after that).
bool runQuietly(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout);

} // namespace kelvo
