// A mixer configured by each test: destinations, list controls with their items on the wave-in
// destination, source lines with their volume controls, calls that fail. Records every write.
#pragma once

#include "recorder/mixer/mixer_device.h"

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvo {

struct FakeList {
    std::uint32_t controlId = 0;
    std::uint32_t controlType = kControlTypeMux;
    std::vector<MixerListText> items;
    std::vector<std::int32_t> values; // one per item
};

struct FakeSourceLine {
    std::uint32_t lineId = 0;
    std::uint32_t volumeControlId = 0; // 0: the line has no VOLUME control
};

// An item; the name is copied byte for byte, NULs included, at most 64 bytes.
MixerListText listItem(std::uint32_t lineId, std::string_view name);

class FakeMixer : public MixerDevice {
public:
    static constexpr std::uint32_t kWaveInLineId = 900;

    int devices = 1;
    MixerResult openResult = MixerResult::Ok;
    std::vector<std::uint32_t> destinations{kComponentDestinationWaveIn}; // component types
    std::vector<FakeList> lists;
    std::vector<FakeSourceLine> sourceLines;
    std::set<std::string> failing; // names of the calls that fail, e.g. "booleanValues"

    std::vector<std::pair<std::uint32_t, std::vector<std::int32_t>>> selectionWrites;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> volumeWrites;

    // A MUX (or MIXER) control with one item per name, line IDs 10, 20, ..., and source lines
    // 10, 20, ... with volume controls 11, 21, ...
    static FakeMixer withSources(const std::vector<std::string>& names,
                                 std::uint32_t controlType = kControlTypeMux);

    int deviceCount() override { return devices; }
    MixerResult open(unsigned device) override;
    MixerResult capabilities(MixerCaps& caps) override;
    MixerResult lineByComponentType(std::uint32_t componentType, MixerLine& line) override;
    MixerResult destinationLine(std::uint32_t destination, MixerLine& line) override;
    MixerResult sourceLine(std::uint32_t destination, std::uint32_t source,
                           MixerLine& line) override;
    MixerResult lineControlByType(std::uint32_t lineId, std::uint32_t controlType,
                                  MixerControl& control) override;
    MixerResult listTexts(std::uint32_t controlId, std::uint32_t items,
                          std::vector<MixerListText>& texts) override;
    MixerResult booleanValues(std::uint32_t controlId, std::uint32_t items,
                              std::vector<std::int32_t>& values) override;
    MixerResult setBooleanValues(std::uint32_t controlId,
                                 const std::vector<std::int32_t>& values) override;
    MixerResult unsignedValue(std::uint32_t controlId, std::uint32_t& value) override;
    MixerResult setUnsignedValue(std::uint32_t controlId, std::uint32_t value) override;

private:
    bool fails(const char* call) const { return failing.count(call) != 0; }
    FakeList* list(std::uint32_t controlId);
    std::map<std::uint32_t, std::uint32_t> volumes_;
};

} // namespace kelvo
