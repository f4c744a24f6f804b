// Mixer start-up: finds the mixer, its recording destination, the control that chooses the
// recording source and each source's volume control, and builds the source-line table.
//
// Runs once on the window's thread before the window is shown; the state it fills stays
// unchanged until the program ends. A failed start-up means the program must end: the caller
// acts on the result, after the message (if any) has been shown and dismissed.
#pragma once

#include "recorder/mixer/mixer_device.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelvo {

struct SourceEntry {
    std::int32_t lineId = 0;
    std::int32_t volumeControlId = 0; // 0 when none was found for the entry
    std::string name;                 // the item's name as the mixer gives it, at most 63 bytes
};

struct MixerState {
    MixerDevice* device = nullptr; // open after a successful start-up; not owned
    std::uint32_t selectionControlId = 0;
    std::vector<SourceEntry> sources; // one per item of the selection control, in item order
};

enum class MixerStartup {
    Ready,
    NoMixer,              // reported, the program ends
    OpenFailed,           // reported, the program ends
    NoRecordingSelection, // not reported, the program ends
};

inline constexpr char kMixerErrorTitle[] = "Kelvo Mixer - Error";
inline constexpr char kNoMixerMessage[] = "Unable to detect a mixer.\r\n\r\nTerminating...";
inline constexpr char kOpenFailedMessage[] = "Unable to open mixer.\r\n\r\nTerminating...";

// Shows a critical-error message with a single OK button and returns once it is dismissed.
using CriticalMessage = std::function<void(const std::string& title, const std::string& text)>;

// The message a start-up that ended so tells before the program ends; null for none.
const char* mixerStartupMessage(MixerStartup result);

MixerStartup startMixer(MixerDevice& device, MixerState& state, const CriticalMessage& show);

// Gives the entry with the k-th smallest line ID the k-th smallest volume control ID. Drivers
// number selection items and source lines independently but both in source-line order, below
// the used mark.
void pairVolumeControls(std::vector<SourceEntry>& sources);

// The message box the program uses for start-up failures (modal, critical icon, OK).
void showCriticalMessageBox(const std::string& title, const std::string& text);

} // namespace kelvo
