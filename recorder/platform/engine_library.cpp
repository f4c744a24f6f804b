#include "recorder/platform/engine_library.h"

#include <dlfcn.h>

#include <utility>

namespace kelvo {

namespace {

std::string lastDlError() {
    const char* text = dlerror();
    return text != nullptr ? text : "unknown error";
}

template <typename Function>
bool resolve(void* handle, const char* name, Function& target, std::string& error) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        error = lastDlError();
        return false;
    }
    target = reinterpret_cast<Function>(symbol);
    return true;
}

} // namespace

EngineLibrary::EngineLibrary(std::string programFolder, std::string libraryName)
    : programFolder_(std::move(programFolder)), libraryName_(std::move(libraryName)) {}

bool EngineLibrary::loaded() {
    return ensureLoaded();
}

bool EngineLibrary::ensureLoaded() {
    // Once, whichever thread calls first: a start may run on a thread of its own.
    std::call_once(tried_, [this] {
        void* handle = openLibrary();
        // A working library is never closed: the engine's worker may outlive any caller's
        // idea of "done", and unloading running code would crash the process.
        ready_ = handle != nullptr && resolveExports(handle);
        if (handle != nullptr && !ready_) {
            dlclose(handle); // none of its code has run: safe to let go of
        }
    });
    return ready_;
}

void* EngineLibrary::openLibrary() {
    std::string folderError;
    if (!programFolder_.empty()) {
        const std::string path = programFolder_ + "/" + libraryName_;
        if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return handle;
        }
        folderError = lastDlError();
    }
    // A bare name makes the dynamic loader search LD_LIBRARY_PATH, the cache and the
    // system folders, as for any installed library.
    if (void* handle = dlopen(libraryName_.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        return handle;
    }
    loadError_ = lastDlError();
    if (!folderError.empty()) {
        loadError_ = folderError + "; " + loadError_;
    }
    return nullptr;
}

bool EngineLibrary::resolveExports(void* handle) {
    std::string error;
    const bool all = resolve(handle, "KelvoInitialize", exports_.initialize, error) &&
                     resolve(handle, "KelvoStartMonitorA", exports_.startMonitor, error) &&
                     resolve(handle, "KelvoStopMonitor", exports_.stopMonitor, error) &&
                     resolve(handle, "KelvoTogglePause", exports_.togglePause, error) &&
                     resolve(handle, "KelvoPeakGetValueLeft", exports_.peakLeft, error) &&
                     resolve(handle, "KelvoPeakGetValueRight", exports_.peakRight, error);
    if (!all) {
        loadError_ = error;
        exports_ = {};
        return false;
    }
    // An engine from before the status export still records; it just cannot say how.
    exports_.getStatus =
        reinterpret_cast<decltype(&KelvoGetStatus)>(dlsym(handle, "KelvoGetStatus"));
    exports_.setSource =
        reinterpret_cast<decltype(&KelvoSetSourceA)>(dlsym(handle, "KelvoSetSourceA"));
    exports_.setStream =
        reinterpret_cast<decltype(&KelvoSetStreamA)>(dlsym(handle, "KelvoSetStreamA"));
    exports_.keepStreamCopy =
        reinterpret_cast<decltype(&KelvoKeepStreamCopy)>(dlsym(handle, "KelvoKeepStreamCopy"));
    exports_.cancelStart =
        reinterpret_cast<decltype(&KelvoCancelStart)>(dlsym(handle, "KelvoCancelStart"));
    return all;
}

int EngineLibrary::initialize() {
    return ensureLoaded() ? exports_.initialize() : kEngineUnavailable;
}

int EngineLibrary::startMonitor(int writeFile, std::uint32_t channels, std::uint32_t sampleRate,
                                const std::string& fileName) {
    if (!ensureLoaded()) {
        return kEngineUnavailable;
    }
    return exports_.startMonitor(writeFile, channels, sampleRate, fileName.c_str());
}

int EngineLibrary::stopMonitor() {
    return ensureLoaded() ? exports_.stopMonitor() : kEngineUnavailable;
}

int EngineLibrary::togglePause() {
    return ensureLoaded() ? exports_.togglePause() : kEngineUnavailable;
}

int EngineLibrary::setSource(const std::string& serverName) {
    if (!ensureLoaded()) {
        return kEngineUnavailable;
    }
    return exports_.setSource != nullptr ? exports_.setSource(serverName.c_str()) : 0;
}

int EngineLibrary::setStream(const std::string& url) {
    if (!ensureLoaded()) {
        return kEngineUnavailable;
    }
    if (exports_.setStream == nullptr) {
        return CaptureEngine::setStream(url);
    }
    return exports_.setStream(url.c_str());
}

int EngineLibrary::keepStreamCopy(bool keep) {
    if (!ensureLoaded()) {
        return kEngineUnavailable;
    }
    return exports_.keepStreamCopy != nullptr ? exports_.keepStreamCopy(keep ? 1 : 0) : 0;
}

void EngineLibrary::cancelStart() {
    if (ensureLoaded() && exports_.cancelStart != nullptr) {
        exports_.cancelStart();
    }
}

int EngineLibrary::peakLeft() {
    return ensureLoaded() ? exports_.peakLeft() : kEngineUnavailable;
}

int EngineLibrary::peakRight() {
    return ensureLoaded() ? exports_.peakRight() : kEngineUnavailable;
}

bool EngineLibrary::status(KelvoStatus& status) {
    if (!ensureLoaded() || exports_.getStatus == nullptr) {
        return false;
    }
    status = {};
    return exports_.getStatus(&status, sizeof status) == KELVO_OK;
}

std::string EngineLibrary::loadError() const {
    return loadError_;
}

} // namespace kelvo
