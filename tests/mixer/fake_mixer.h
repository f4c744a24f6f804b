// One mixer with one wave-in destination (line 900) carrying the list controls 500, 501, ...
// and the source lines the test gives. Records every write.
#pragma once

#include "recorder/mixer/mixer_device.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kelvo {

class FakeMixer : public MixerDevice {
public:
    using R = MixerResult;
    struct List {
        std::uint32_t controlType;
        std::vector<MixerListText> items;
        std::vector<std::int32_t> values;
    };

    int devices = 1;
    R openResult = R::Ok;
    std::vector<List> lists;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sourceLines; // line ID, volume ID
    std::vector<std::vector<std::int32_t>> selectionWrites;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> volumeWrites; // control ID, value

    // A list control with one item per name (copied byte for byte, NULs included) on lines
    // 10, 20, ..., whose volume controls are 11, 21, ...
    static FakeMixer withSources(const std::vector<std::string>& names,
                                 std::uint32_t controlType = kControlTypeMux) {
        FakeMixer mixer;
        mixer.lists.push_back({controlType, {}, std::vector<std::int32_t>(names.size())});
        for (std::uint32_t i = 0; i < names.size(); ++i) {
            MixerListText item{10 * i + 10, {}};
            std::memcpy(item.name.data(), names[i].data(), std::min(names[i].size(), size_t{64}));
            mixer.lists[0].items.push_back(item);
            mixer.sourceLines.emplace_back(10 * i + 10, 10 * i + 11);
        }
        return mixer;
    }

    int deviceCount() override { return devices; }
    R open(unsigned) override { return openResult; }
    R capabilities(MixerCaps& caps) override {
        caps.destinations = 1;
        return R::Ok;
    }
    R lineByComponentType(std::uint32_t type, MixerLine& line) override {
        return type == kComponentDestinationWaveIn ? destinationLine(0, line) : R::InvalidLine;
    }
    R destinationLine(std::uint32_t destination, MixerLine& line) override {
        line = {0, 0, 900, kComponentDestinationWaveIn, std::uint32_t(sourceLines.size())};
        return answer(destination == 0);
    }
    R sourceLine(std::uint32_t, std::uint32_t source, MixerLine& line) override {
        line.lineId = source < sourceLines.size() ? sourceLines[source].first : 0;
        return answer(line.lineId != 0);
    }
    R lineControlByType(std::uint32_t lineId, std::uint32_t type, MixerControl& control) override {
        for (std::uint32_t i = 0; i < lists.size() && lineId == 900; ++i) {
            if (lists[i].controlType == type) {
                control = {500 + i, type, std::uint32_t(lists[i].items.size())};
                return R::Ok;
            }
        }
        for (auto [line, volume] : sourceLines) {
            if (line == lineId && type == kControlTypeVolume) {
                control = {volume, type, 0};
                return R::Ok;
            }
        }
        return R::InvalidControl;
    }
    R listTexts(std::uint32_t id, std::uint32_t items, std::vector<MixerListText>& texts) override {
        texts = lists.at(id - 500).items;
        return answer(items == texts.size());
    }
    R booleanValues(std::uint32_t id, std::uint32_t items,
                    std::vector<std::int32_t>& values) override {
        values = lists.at(id - 500).values;
        return answer(items == values.size());
    }
    R setBooleanValues(std::uint32_t id, const std::vector<std::int32_t>& values) override {
        selectionWrites.push_back(values);
        lists.at(id - 500).values = values;
        return R::Ok;
    }
    R unsignedValue(std::uint32_t, std::uint32_t&) override { return R::InvalidControl; }
    R setUnsignedValue(std::uint32_t id, std::uint32_t value) override {
        volumeWrites.emplace_back(id, value);
        return R::Ok;
    }

private:
    static R answer(bool ok) { return ok ? R::Ok : R::InvalidValue; }
};

} // namespace kelvo
