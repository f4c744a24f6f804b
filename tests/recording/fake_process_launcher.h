// ProcessLauncher double: remembers what would have been started, starts nothing.
#pragma once

#include "recorder/recording/process_launcher.h"

#include <string>
#include <vector>

namespace kelvo::testing {

struct LaunchCall {
    std::string program;
    std::vector<std::string> args;
    std::string workingFolder;
};

class FakeProcessLauncher : public ProcessLauncher {
public:
    int start(const std::string& program, const std::vector<std::string>& args,
              const std::string& workingFolder) override {
        launches.push_back({program, args, workingFolder});
        return 4242;
    }

    std::vector<LaunchCall> launches;
};

} // namespace kelvo::testing
