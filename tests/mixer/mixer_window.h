// The window's three mixer controls as it creates them, around a mixer it starts.
#pragma once

#include "recorder/mixer/recording_sources.h"

#include <QComboBox>
#include <QSlider>

#include <optional>
#include <string>

namespace kelvo {

struct MixerWindow {
    explicit MixerWindow(MixerDevice& device, const std::string& heldName = "") {
        started =
            startMixer(device, state, [this](const std::string& title, const std::string& text) {
                shown += title + "|" + text;
            });
        slider.setRange(0, 100);
        slider.setValue(50);
        sources.emplace(state, list, slider);
        sources->fillSourceList();
        sources->showSource(heldName.empty() ? "Microphone" : heldName);
    }
    MixerState state;
    MixerStartup started;
    std::string shown; // "title|text" of every message shown
    QComboBox list;
    QSlider slider{Qt::Vertical};
    std::optional<RecordingSources> sources;
};

} // namespace kelvo
