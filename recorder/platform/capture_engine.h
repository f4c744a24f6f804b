// The capture engine as the recorder sees it: the exports of the kelvo library.
//
// Calls come from one thread at a time: the window's, or a thread a stream's start runs on
// while the window goes on, which then calls nothing but cancelStart(), status() and the
// peaks. The real implementation loads the library by name at the first call; when that
// fails, every call returns kEngineUnavailable and loadError() says why, so the caller can
// tell the user instead of pretending to record.
#pragma once

#include "engine/include/kelvo/kelvo.h"

#include <cstdint>
#include <string>

namespace kelvo {

class CaptureEngine {
public:
    // Returned by every call when the engine library could not be loaded.
    static constexpr int kEngineUnavailable = -32768;

    virtual ~CaptureEngine() = default;

    virtual int initialize() = 0;
    virtual int startMonitor(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
                             const std::string& fileName) = 0;
    virtual int stopMonitor() = 0;
    virtual int togglePause() = 0;
    // The sound server source (its server name; "" for the server's default) the following
    // starts record from. Never changes the server's default. An engine from before this
    // choice ignores it and records the default source.
    virtual int setSource(const std::string& serverName) {
        (void)serverName;
        return 0;
    }
    // The stream the following starts record instead of a sound source ("" for the source
    // again), and whether they keep its packets as broadcast. An engine from before stream
    // capture answers kStreamUnsupported, and nothing changes.
    static constexpr int kStreamUnsupported = -32767;
    virtual int setStream(const std::string& url) { return url.empty() ? 0 : kStreamUnsupported; }
    virtual int keepStreamCopy(bool keep) {
        (void)keep;
        return 0;
    }
    // Makes a start under way on another thread give up its stream's connection: it returns
    // KELVO_ERR_START_CANCELLED. A start begun later is not affected. An engine from before
    // this call connects to the end of its time limit.
    virtual void cancelStart() {}
    virtual int peakLeft() = 0;
    virtual int peakRight() = 0;

    // What the running or last capture has done. False when the engine cannot tell (not
    // loaded, or a library from before the status export): the caller then knows nothing.
    virtual bool status(KelvoStatus& status) {
        (void)status;
        return false;
    }

    // Why the library could not be loaded; empty while it is loaded or not yet tried.
    virtual std::string loadError() const = 0;

    // Every capture starts so: initialize, then startMonitor. The first non-zero result, or 0.
    int startCapture(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
                     const std::string& fileName) {
        const int initialized = initialize();
        return initialized != 0 ? initialized
                                : startMonitor(writeFile, channels, sampleRate, fileName);
    }
};

} // namespace kelvo
