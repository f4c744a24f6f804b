// Stream capture lives in a module of its own, libkelvo_stream.so beside the engine, loaded
// with the first stream: FFmpeg's libraries and the hundred they bring would cost every
// recording of a sound source some 24 MiB and most of its start-up time.
#pragma once

#include "engine/capture_stream.h"

#include <functional>
#include <memory>

namespace kelvo::engine {

using StreamDevices = std::function<std::unique_ptr<CaptureDevice>()>;
using StreamDeviceFactory = std::function<StreamDevices(StreamSetup)>;

// The module's factory, loaded on the first call from the folder of the binary that holds
// the engine; empty when there is no module there (streams then cannot be recorded).
StreamDeviceFactory loadStreamModule();

} // namespace kelvo::engine

// The module's one export.
extern "C" void kelvo_stream_devices(const kelvo::engine::StreamSetup* setup,
                                     kelvo::engine::StreamDevices* devices);
