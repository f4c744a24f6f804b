// The capture engine reached through libkelvo.so, loaded by name at run time.
//
// Nothing links the engine at build time: the recorder must start (and say what is wrong)
// on a machine where the library is missing or broken. The library is opened at the first
// call of any export, from the program folder first and then from the system's library
// search path, and stays loaded for the life of the process. A failed load is not retried;
// every call then returns kEngineUnavailable and loadError() says why.
//
// Threading: as every CaptureEngine; the library is loaded once, by whichever thread calls
// first.
#pragma once

#include "engine/include/kelvo/kelvo.h"
#include "recorder/platform/capture_engine.h"

#include <mutex>
#include <string>

namespace kelvo {

class EngineLibrary : public CaptureEngine {
public:
    static constexpr const char* kLibraryName = "libkelvo.so";

    // programFolder is searched before the system path; empty skips it.
    explicit EngineLibrary(std::string programFolder, std::string libraryName = kLibraryName);
    ~EngineLibrary() override = default;

    EngineLibrary(const EngineLibrary&) = delete;
    EngineLibrary& operator=(const EngineLibrary&) = delete;

    int initialize() override;
    int startMonitor(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
                     const std::string& fileName) override;
    int stopMonitor() override;
    int togglePause() override;
    int setSource(const std::string& serverName) override;
    int setStream(const std::string& url) override;
    int keepStreamCopy(bool keep) override;
    void cancelStart() override;
    int peakLeft() override;
    int peakRight() override;
    bool status(KelvoStatus& status) override;
    std::string loadError() const override;

    // True once the library and its six required exports were found (loads on first use).
    bool loaded();

private:
    // Typed after the engine's own header so a changed signature fails to compile here.
    struct Exports {
        decltype(&KelvoInitialize) initialize;
        decltype(&KelvoStartMonitorA) startMonitor;
        decltype(&KelvoStopMonitor) stopMonitor;
        decltype(&KelvoTogglePause) togglePause;
        decltype(&KelvoPeakGetValueLeft) peakLeft;
        decltype(&KelvoPeakGetValueRight) peakRight;
        decltype(&KelvoGetStatus) getStatus;           // optional: null in a library without it
        decltype(&KelvoSetSourceA) setSource;          // optional, as getStatus
        decltype(&KelvoSetStreamA) setStream;          // optional, as getStatus
        decltype(&KelvoKeepStreamCopy) keepStreamCopy; // optional, as getStatus
        decltype(&KelvoCancelStart) cancelStart;       // optional, as getStatus
    };

    bool ensureLoaded();
    void* openLibrary();
    bool resolveExports(void* handle);

    std::string programFolder_;
    std::string libraryName_;
    std::once_flag tried_;
    bool ready_ = false;
    Exports exports_{};
    std::string loadError_;
};

} // namespace kelvo
