// What recording and monitoring ask of the mixer: to record from the chosen source at the
// chosen level, and which source that is. RecordingSources answers it; tests plug in a double.
//
// Threads: the window's thread only.
#pragma once

#include <string>

namespace kelvo {

class SourceSelection {
public:
    virtual ~SourceSelection() = default;

    // Switches the mixer's recording selection to the chosen source and sets its volume
    // from the input level.
    virtual void applySourceSelection() = 0;
    // The name of the source the mixer records from; empty when there is none.
    virtual std::string selectedSourceName() const = 0;
    // The sound server's own name for it, which the capture engine is told before every
    // start; empty for the server's default source. The server's default is never changed.
    virtual std::string chosenSourceId() const { return {}; }
};

} // namespace kelvo
