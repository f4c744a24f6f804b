// Capture from a network stream (Icecast/Shoutcast over HTTP or HTTPS, HLS, or a .m3u, .pls
// or .xspf playlist of one) through FFmpeg's libraries: decoded and resampled to the
// recording's format, behind the same interface as a sound card, so the file, the
// timeline, the counters and the peaks work as they do for one.
//
// A capture's devices share one session: the address, the consecutive failures (for the
// backoff), the last title and the kept copy of the broadcast. The first device of a
// capture connects in open(), within a time limit, so the start can say that the stream
// cannot be reached; later ones (reopened by the engine after a dropped connection) connect
// on their own thread after a backoff of 0.25 s doubling to 4 s, and post Lost when that
// fails, which the engine answers with the next device.
//
// Threads: a reader (network, demuxing, decoding; it allocates, as FFmpeg does) feeds a ring
// of 12 s; a releaser hands the ring's frames to the engine's buffers at the recording's
// rate, so a stream's burst on connect (or a file served whole) never runs ahead of the
// clock. Every network wait has a time limit and ends when the device is reset, so neither
// a hung server nor a stop waits long. A dropped connection is told (Lost) only once the
// audio already received has been handed on.
#pragma once

#include "engine/capture_device.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace kelvo::engine {

struct StreamSetup {
    std::string address;  // a network address (isNetworkAddress)
    std::string copyStem; // the kept copy goes to copyStem + .mp3/.aac/.ogg/.opus; empty: none
    // Set from another thread to make the first connection, made in the first open(), give
    // up at once; reconnects never look at it. Null: only the time limit ends it.
    const std::atomic<bool>* abandon = nullptr;
};

// The devices of one capture of `setup`; the kept copy is completed when the last of them
// and the factory are gone.
std::function<std::unique_ptr<CaptureDevice>()> makeStreamDevices(StreamSetup setup);

} // namespace kelvo::engine
