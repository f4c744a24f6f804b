// The mixer on a PulseAudio server.
//
// The server is one mixer device with one wave-in destination. Its source lines are the
// server's sources in index order, monitors included; each has a VOLUME control (the source's
// volume, 0..65535 onto 0..PA_VOLUME_NORM on every channel). The destination carries a MUX
// control (no MIXER control) whose items are the same sources, named by their description.
// Switching an item on only chooses what the recorder records (chosenSource(), handed to the
// capture engine); the server's default source is never changed. Until an item is switched
// on, the item on is the server's default source.
//
// IDs: a source keeps the ordinal it got when this object first saw it (first seen in index
// order), so its IDs stay put while other sources come and go and across a server restart.
// Source line IDs and volume control IDs both rise in that order and stay below 100000000.
//
// The MUX items are the sources listed when the control was looked up: item i always means
// the same source, and a source that has vanished since cannot be switched on.
//
// Threading: not thread-safe; call from one thread. The mainloop runs only inside a call and
// each call gives up after the timeout, so a hung or vanished server costs at most that long.
// A call after the connection broke connects again.
#pragma once

#include "recorder/mixer/mixer_device.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

struct pa_context;
struct pa_mainloop;
struct pa_operation;

namespace kelvo {

class PulseMixer : public MixerDevice {
public:
    struct Options {
        std::string server; // empty: libpulse's default (PULSE_SERVER and friends)
        std::chrono::milliseconds timeout{2000};
        // After a server stopped answering, calls fail at once for this long instead of
        // waiting for it again, so one stuck action costs one timeout, not several.
        std::chrono::milliseconds retryAfterTimeout{3000};
    };

    static constexpr std::uint32_t kDestinationLineId = 1;
    static constexpr std::uint32_t kMuxControlId = 2;
    static constexpr std::uint32_t kMaxSources = 1000000;

    PulseMixer();
    explicit PulseMixer(Options options);
    ~PulseMixer() override;
    PulseMixer(const PulseMixer&) = delete;
    PulseMixer& operator=(const PulseMixer&) = delete;

    int deviceCount() override;
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
    std::string chosenSource() const override { return chosen_; }

    static constexpr std::uint32_t kFirstSourceId = 16;
    static std::uint32_t sourceLineId(std::uint32_t ordinal) {
        return kFirstSourceId + 2 * ordinal;
    }
    static std::uint32_t volumeControlId(std::uint32_t ordinal) {
        return kFirstSourceId + 1 + 2 * ordinal;
    }

    // The description cut to at most 63 bytes without splitting a UTF-8 character.
    static std::string itemName(const std::string& description);

private:
    struct Source {
        std::uint32_t index = 0;
        std::string name;
        std::string description;
        std::uint8_t channels = 0;
        std::uint32_t averageVolume = 0;
    };
    enum class Wait { Done, TimedOut, Lost };

    MixerResult connect();
    MixerResult ready(); // opened and connected
    void disconnect();
    template <typename Ready> Wait waitUntil(Ready ready);
    MixerResult finish(pa_operation* op);
    MixerResult listSources(std::vector<Source>& sources);
    MixerResult sourceByName(const std::string& name, Source& source);
    MixerResult defaultSourceName(std::string& name);
    std::uint32_t ordinalOf(const std::string& name);
    // The source name behind a volume control ID or source line ID, if this object knows it.
    bool nameForId(std::uint32_t id, bool volumeControl, std::string& name) const;
    MixerResult takeMuxSnapshot();

    Options options_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool opened_ = false;
    std::chrono::steady_clock::time_point quietUntil_{};
    std::vector<std::string> known_;    // source names by ordinal
    std::vector<std::string> muxItems_; // source names by MUX item
    bool haveMuxItems_ = false;
    std::string chosen_; // the source switched on in the MUX; empty: none yet
};

} // namespace kelvo
