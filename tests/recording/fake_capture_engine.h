// CaptureEngine double: records every call and answers what the test configured.
#pragma once

#include "recorder/recording/capture_engine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::testing {

struct StartCall {
    int writeFile;
    std::uint32_t channels;
    std::uint32_t sampleRate;
    std::string fileName;
};

class FakeCaptureEngine : public CaptureEngine {
public:
    int initialize() override {
        calls.push_back("initialize");
        return initializeResult;
    }
    int startMonitor(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
                     const std::string& fileName) override {
        calls.push_back("startMonitor");
        starts.push_back({writeFile, channels, sampleRate, fileName});
        return startResult;
    }
    int stopMonitor() override {
        calls.push_back("stopMonitor");
        return 0;
    }
    int togglePause() override {
        calls.push_back("togglePause");
        return 0;
    }
    int peakLeft() override { return 0; }
    int peakRight() override { return 0; }
    std::string loadError() const override { return loadErrorText; }

    // A library that could not be loaded answers every call the same way.
    void makeUnavailable(const std::string& why) {
        initializeResult = kEngineUnavailable;
        startResult = kEngineUnavailable;
        loadErrorText = why;
    }

    int initializeResult = 0;
    int startResult = 0;
    std::string loadErrorText;
    std::vector<std::string> calls;
    std::vector<StartCall> starts;
};

} // namespace kelvo::testing
