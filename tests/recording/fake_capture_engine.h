// CaptureEngine double: records every call and answers what the test configured.
#pragma once

#include "recorder/recording/capture_engine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::testing {

struct StartCall {
    int writeFile;
    std::uint32_t channels, sampleRate;
    std::string fileName;
};

class FakeCaptureEngine : public CaptureEngine {
public:
    int initialize() override { return log("initialize", initializeResult); }
    int startMonitor(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
                     const std::string& fileName) override {
        starts.push_back({writeFile, channels, sampleRate, fileName});
        return log("startMonitor", startResult);
    }
    int stopMonitor() override { return log("stopMonitor", 0); }
    int togglePause() override { return log("togglePause", 0); }
    int peakLeft() override { return 0; }
    int peakRight() override { return 0; }
    std::string loadError() const override { return loadErrorText; }

    int initializeResult = 0, startResult = 0;
    std::string loadErrorText;
    std::vector<std::string> calls;
    std::vector<StartCall> starts;

private:
    int log(const char* call, int result) {
        calls.push_back(call);
        return result;
    }
};

} // namespace kelvo::testing
