// The export of libkelvo_stream.so (see stream_module.h).
#include "engine/stream_module.h"

extern "C" __attribute__((visibility("default"))) void
kelvo_stream_devices(const kelvo::engine::StreamSetup* setup,
                     kelvo::engine::StreamDevices* devices) {
    try {
        *devices = kelvo::engine::makeStreamDevices(*setup);
    } catch (...) {
        *devices = {}; // the engine's start then fails to open a device, and says so
    }
}
