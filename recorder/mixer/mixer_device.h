// The sound card mixer as the recorder sees it: one mixer device with destination lines, the
// source lines connected to them and the controls on those lines, addressed by numeric IDs.
//
// The shape follows the classic multimedia mixer model so that discovery, pairing and source
// selection stay the same on every platform; a backend maps its own sound system onto it.
// A backend is used from one thread only (the window's) and every call returns in bounded time.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvo {

// Every call answers with one of these; only Ok means the out-parameters were filled.
enum class MixerResult {
    Ok = 0,
    BadDevice,      // no such mixer device
    NotOpen,        // the device has not been opened
    InvalidLine,    // no such line, or none of the asked component type
    InvalidControl, // no such control, or none of the asked type on the line
    InvalidValue,   // wrong item count or a value the control cannot take
    Unreachable,    // the sound system cannot be reached (gone, refused, not answering in time)
    Failed,         // the sound system refused the request
};

constexpr std::uint32_t kComponentDestinationWaveIn = 7;
// A control type is composed the classic mixer way: its class, its subclass, the units of
// its values, and an index among the types that share those three.
constexpr std::uint32_t kControlClassFader = 0x50000000;
constexpr std::uint32_t kControlClassList = 0x70000000;
constexpr std::uint32_t kListSingleSelect = 0x00000000;
constexpr std::uint32_t kListMultipleSelect = 0x01000000;
constexpr std::uint32_t kUnitsBoolean = 0x00010000;
constexpr std::uint32_t kUnitsUnsigned = 0x00030000;

// A list where any number of sources may record at once (0x71010001).
constexpr std::uint32_t kControlTypeMixer =
    kControlClassList | kListMultipleSelect | kUnitsBoolean | 1;
// A list where one source at a time records (0x70010001).
constexpr std::uint32_t kControlTypeMux = kControlClassList | kListSingleSelect | kUnitsBoolean | 1;
// A line's recording level (0x50030001).
constexpr std::uint32_t kControlTypeVolume = kControlClassFader | kUnitsUnsigned | 1;

// Room for a list item's name including its terminating NUL.
constexpr std::size_t kMixerNameChars = 64;

struct MixerCaps {
    std::uint32_t destinations = 0;
};

struct MixerLine {
    std::uint32_t destination = 0; // index of the destination the line belongs to
    std::uint32_t source = 0;      // index among that destination's source lines
    std::uint32_t lineId = 0;
    std::uint32_t componentType = 0;
    std::uint32_t connections = 0; // a destination's number of source lines
};

struct MixerControl {
    std::uint32_t controlId = 0;
    std::uint32_t controlType = 0;
    std::uint32_t multipleItems = 0; // items of a list control, 0 otherwise
};

// One item of a list control: the source line it stands for and its NUL-terminated name.
struct MixerListText {
    std::uint32_t param1 = 0;
    std::array<char, kMixerNameChars> name{};
};

class MixerDevice {
public:
    virtual ~MixerDevice() = default;

    // Number of mixer devices; 0 when there is no usable mixer.
    virtual int deviceCount() = 0;
    virtual MixerResult open(unsigned device) = 0;
    virtual MixerResult capabilities(MixerCaps& caps) = 0;

    virtual MixerResult lineByComponentType(std::uint32_t componentType, MixerLine& line) = 0;
    virtual MixerResult destinationLine(std::uint32_t destination, MixerLine& line) = 0;
    virtual MixerResult sourceLine(std::uint32_t destination, std::uint32_t source,
                                   MixerLine& line) = 0;
    virtual MixerResult lineControlByType(std::uint32_t lineId, std::uint32_t controlType,
                                          MixerControl& control) = 0;

    // List controls: `items` must be the control's item count; the answer holds one per item.
    virtual MixerResult listTexts(std::uint32_t controlId, std::uint32_t items,
                                  std::vector<MixerListText>& texts) = 0;
    virtual MixerResult booleanValues(std::uint32_t controlId, std::uint32_t items,
                                      std::vector<std::int32_t>& values) = 0;
    virtual MixerResult setBooleanValues(std::uint32_t controlId,
                                         const std::vector<std::int32_t>& values) = 0;

    // Fader controls: one value 0..65535 standing for all channels.
    virtual MixerResult unsignedValue(std::uint32_t controlId, std::uint32_t& value) = 0;
    virtual MixerResult setUnsignedValue(std::uint32_t controlId, std::uint32_t value) = 0;

    // The sound system's own name for the source the recording selection last switched on
    // (what the capture engine is told to record); empty when the backend has none.
    virtual std::string chosenSource() const { return {}; }
};

} // namespace kelvo
