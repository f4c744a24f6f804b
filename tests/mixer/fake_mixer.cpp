#include "tests/mixer/fake_mixer.h"

#include <algorithm>
#include <cstring>

namespace kelvo {

MixerListText listItem(std::uint32_t lineId, std::string_view name) {
    MixerListText text;
    text.param1 = lineId;
    std::memcpy(text.name.data(), name.data(), std::min(name.size(), text.name.size()));
    return text;
}

FakeMixer FakeMixer::withSources(const std::vector<std::string>& names, std::uint32_t controlType) {
    FakeMixer mixer;
    FakeList selection{500, controlType, {}, {}};
    for (std::uint32_t i = 0; i < names.size(); ++i) {
        selection.items.push_back(listItem(10 * (i + 1), names[i]));
        selection.values.push_back(0);
        mixer.sourceLines.push_back({10 * (i + 1), 10 * (i + 1) + 1});
    }
    mixer.lists.push_back(selection);
    return mixer;
}

MixerResult FakeMixer::open(unsigned device) {
    return device == 0 ? openResult : MixerResult::BadDevice;
}

MixerResult FakeMixer::capabilities(MixerCaps& caps) {
    if (fails("capabilities")) {
        return MixerResult::Failed;
    }
    caps.destinations = static_cast<std::uint32_t>(destinations.size());
    return MixerResult::Ok;
}

MixerResult FakeMixer::destinationLine(std::uint32_t destination, MixerLine& line) {
    if (fails("destinationLine") || destination >= destinations.size()) {
        return MixerResult::InvalidLine;
    }
    bool waveIn = destinations[destination] == kComponentDestinationWaveIn;
    line = {destination, 0, waveIn ? kWaveInLineId : 800 + destination, destinations[destination],
            waveIn ? static_cast<std::uint32_t>(sourceLines.size()) : 0};
    return MixerResult::Ok;
}

MixerResult FakeMixer::lineByComponentType(std::uint32_t componentType, MixerLine& line) {
    auto found = std::find(destinations.begin(), destinations.end(), componentType);
    if (fails("lineByComponentType") || found == destinations.end()) {
        return MixerResult::InvalidLine;
    }
    return destinationLine(static_cast<std::uint32_t>(found - destinations.begin()), line);
}

MixerResult FakeMixer::sourceLine(std::uint32_t destination, std::uint32_t source,
                                  MixerLine& line) {
    if (fails("sourceLine") || destination >= destinations.size() || source >= sourceLines.size()) {
        return MixerResult::InvalidLine;
    }
    line = {destination, source, sourceLines[source].lineId, 0x1000, 1};
    return MixerResult::Ok;
}

MixerResult FakeMixer::lineControlByType(std::uint32_t lineId, std::uint32_t controlType,
                                         MixerControl& control) {
    if (lineId == kWaveInLineId) {
        for (const FakeList& l : lists) {
            if (l.controlType == controlType) {
                control = {l.controlId, l.controlType, static_cast<std::uint32_t>(l.items.size())};
                return MixerResult::Ok;
            }
        }
        return MixerResult::InvalidControl;
    }
    for (const FakeSourceLine& line : sourceLines) {
        if (line.lineId == lineId && controlType == kControlTypeVolume &&
            line.volumeControlId != 0) {
            control = {line.volumeControlId, kControlTypeVolume, 0};
            return MixerResult::Ok;
        }
    }
    return MixerResult::InvalidControl;
}

FakeList* FakeMixer::list(std::uint32_t controlId) {
    for (FakeList& l : lists) {
        if (l.controlId == controlId) {
            return &l;
        }
    }
    return nullptr;
}

MixerResult FakeMixer::listTexts(std::uint32_t controlId, std::uint32_t items,
                                 std::vector<MixerListText>& texts) {
    FakeList* l = list(controlId);
    if (fails("listTexts") || !l || items != l->items.size()) {
        return MixerResult::InvalidControl;
    }
    texts = l->items;
    return MixerResult::Ok;
}

MixerResult FakeMixer::booleanValues(std::uint32_t controlId, std::uint32_t items,
                                     std::vector<std::int32_t>& values) {
    FakeList* l = list(controlId);
    if (fails("booleanValues") || !l || items != l->values.size()) {
        return MixerResult::InvalidControl;
    }
    values = l->values;
    return MixerResult::Ok;
}

MixerResult FakeMixer::setBooleanValues(std::uint32_t controlId,
                                        const std::vector<std::int32_t>& values) {
    selectionWrites.emplace_back(controlId, values);
    FakeList* l = list(controlId);
    if (fails("setBooleanValues") || !l || values.size() != l->values.size()) {
        return MixerResult::InvalidControl;
    }
    l->values = values;
    return MixerResult::Ok;
}

MixerResult FakeMixer::unsignedValue(std::uint32_t controlId, std::uint32_t& value) {
    auto found = volumes_.find(controlId);
    if (found == volumes_.end()) {
        return MixerResult::InvalidControl;
    }
    value = found->second;
    return MixerResult::Ok;
}

MixerResult FakeMixer::setUnsignedValue(std::uint32_t controlId, std::uint32_t value) {
    volumeWrites.emplace_back(controlId, value);
    if (fails("setUnsignedValue")) {
        return MixerResult::Failed;
    }
    volumes_[controlId] = value;
    return MixerResult::Ok;
}

} // namespace kelvo
