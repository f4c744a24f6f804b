// A capture engine that answers what the test sets and logs every call by name.
#pragma once

#include "recorder/recording/capture_engine.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kelvo::test {

class FakeCaptureEngine : public CaptureEngine {
public:
    int initialize() override { return log("initialize", initializeResult); }
    int startMonitor(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
                     const std::string& fileName) override {
        startArguments = std::to_string(writeFile) + "," + std::to_string(channels) + "," +
                         std::to_string(sampleRate) + ",\"" + fileName + "\"";
        return log("startMonitor", startResult);
    }
    int stopMonitor() override { return log("stopMonitor", stopResult); }
    int togglePause() override { return log("togglePause", 0); }
    int peakLeft() override { return log("peakLeft", left); }
    int peakRight() override { return log("peakRight", right); }
    std::string loadError() const override { return error; }

    long count(const std::string& call) const { return std::ranges::count(calls, call); }

    int initializeResult = 0, startResult = 0, stopResult = 0;
    int left = 0, right = 0;
    std::string error;
    std::string startArguments;
    std::vector<std::string> calls;

private:
    int log(const char* call, int result) {
        calls.push_back(call);
        return result;
    }
};

} // namespace kelvo::test
