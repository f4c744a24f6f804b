// Doubles of the recorder's services: they log what they are asked and answer as configured.
#pragma once

#include "recorder/recording/capture_engine.h"
#include "recorder/recording/process_launcher.h"

namespace kelvo::testing {

// Every call is logged; each start also as "writeFile,channels,rate,name".
class FakeCaptureEngine : public CaptureEngine {
public:
    int initialize() override { return log("initialize", initializeResult); }
    int startMonitor(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
                     const std::string& fileName) override {
        starts.push_back(std::to_string(writeFile) + "," + std::to_string(channels) + "," +
                         std::to_string(sampleRate) + "," + fileName);
        return log("startMonitor", startResult);
    }
    int stopMonitor() override { return log("stopMonitor", 0); }
    int togglePause() override { return log("togglePause", 0); }
    int peakLeft() override { return 0; }
    int peakRight() override { return 0; }
    std::string loadError() const override { return loadErrorText; }

    int initializeResult = 0, startResult = 0;
    std::string loadErrorText;
    std::vector<std::string> calls, starts;

private:
    int log(const char* call, int result) {
        calls.push_back(call);
        return result;
    }
};

// Each start is kept as the program, its arguments and the working folder, in one list.
class FakeProcessLauncher : public ProcessLauncher {
public:
    int start(const std::string& program, const std::vector<std::string>& args,
              const std::string& workingFolder) override {
        launches.push_back({program});
        launches.back().insert(launches.back().end(), args.begin(), args.end());
        launches.back().push_back(workingFolder);
        return 4242;
    }

    std::vector<std::vector<std::string>> launches;
};

} // namespace kelvo::testing
