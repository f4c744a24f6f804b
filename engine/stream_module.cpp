#include "engine/stream_module.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace kelvo::engine {

StreamDeviceFactory loadStreamModule() {
    using Make = decltype(&kelvo_stream_devices);
    static Make make = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        // Only the module in the engine's own folder: never one found on a search path.
        Dl_info self{};
        if (dladdr(reinterpret_cast<void*>(&loadStreamModule), &self) == 0 ||
            self.dli_fname == nullptr)
            return;
        std::string path = self.dli_fname;
        const std::size_t slash = path.rfind('/');
        path = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
               "/libkelvo_stream.so";
        if (void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
            make = reinterpret_cast<Make>(dlsym(module, "kelvo_stream_devices"));
    });
    if (make == nullptr)
        return {};
    return [](StreamSetup setup) {
        StreamDevices devices;
        make(&setup, &devices);
        return devices;
    };
}

} // namespace kelvo::engine
