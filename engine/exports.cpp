// The exports over the one process-wide engine. Nothing may throw across the C
// boundary, so every entry point catches whatever the C++ beneath might raise.
#include "kelvo/kelvo.h"

#include "engine/capture_pulse.h"
#include "engine/engine.h"

namespace {

kelvo::engine::Engine& engine() {
    // Built on first use; the library's load does no work of its own.
    static kelvo::engine::Engine instance(
        [](const std::string& source) { return kelvo::engine::makeSoundDevice(source); });
    return instance;
}

template <typename F> int guarded(F&& f, int onException) noexcept {
    try {
        return f();
    } catch (...) {
        return onException;
    }
}

} // namespace

extern "C" {

KELVO_EXPORT int KelvoInitialize(void) {
    return guarded([] { return engine().initialize(); }, 0);
}

KELVO_EXPORT int KelvoStartMonitorA(int writeFile, uint32_t channels, uint32_t sampleRate,
                                    const char* fileName) {
    return guarded([&] { return engine().start(writeFile, channels, sampleRate, fileName); },
                   KELVO_ERR_WORKER);
}

KELVO_EXPORT int KelvoStopMonitor(void) {
    return guarded([] { return engine().stop(); }, KELVO_ERR_RESET_DEVICE);
}

KELVO_EXPORT int KelvoTogglePause(void) {
    return guarded([] { return engine().togglePause(); }, 0);
}

KELVO_EXPORT int KelvoPeakGetValueLeft(void) {
    return engine().peakLeft();
}

KELVO_EXPORT int KelvoPeakGetValueRight(void) {
    return engine().peakRight();
}

KELVO_EXPORT int KelvoGetStatus(KelvoStatus* status, size_t size) {
    return engine().status(status, size) ? KELVO_OK : KELVO_ERR_STATUS_ARGUMENT;
}

KELVO_EXPORT int KelvoSetSourceA(const char* sourceName) {
    return guarded([&] { return engine().setSource(sourceName); }, KELVO_ERR_SOURCE_NAME);
}

KELVO_EXPORT int KelvoSetStreamA(const char* url) {
    return guarded([&] { return engine().setStream(url); }, KELVO_ERR_STREAM_ADDRESS);
}

KELVO_EXPORT int KelvoCancelStart(void) {
    engine().cancelStart();
    return 0;
}

KELVO_EXPORT int KelvoKeepStreamCopy(int keep) {
    engine().keepStreamCopy(keep != 0);
    return 0;
}

#if defined(KELVO_TEST_HOOKS)
// Only in the test build of the library: makes the worker stall once, as a slow disk would.
KELVO_EXPORT void KelvoTestStallWorkerOnce(int milliseconds) {
    engine().stallWorkerOnce(milliseconds);
}

// Lowers the most silence one gap may write, so a test reaches the next part in seconds.
KELVO_EXPORT void KelvoTestSetMaxFillSeconds(double seconds) {
    engine().setMaxFillSeconds(seconds);
}
#endif

} // extern "C"
