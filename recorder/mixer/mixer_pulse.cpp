#include "recorder/mixer/mixer_pulse.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace kelvo {

namespace {

constexpr std::uint32_t kComponentSourceUndefined = 0x1000;
constexpr std::size_t kMaxNameBytes = kMixerNameChars - 1;

pa_volume_t toPulseVolume(std::uint32_t level) {
    return static_cast<pa_volume_t>((std::uint64_t{level} * PA_VOLUME_NORM + 32767) / 65535);
}

std::uint32_t toDeviceLevel(pa_volume_t volume) {
    std::uint64_t level = (std::uint64_t{volume} * 65535 + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(level, 65535));
}

struct SuccessReply {
    bool ok = false;
    static void callback(pa_context*, int success, void* data) {
        static_cast<SuccessReply*>(data)->ok = success != 0;
    }
};

} // namespace

PulseMixer::PulseMixer() : PulseMixer(Options{}) {}

PulseMixer::PulseMixer(Options options) : options_(std::move(options)), loop_(pa_mainloop_new()) {}

PulseMixer::~PulseMixer() {
    disconnect();
    if (loop_) {
        pa_mainloop_free(loop_);
    }
}

std::string PulseMixer::itemName(const std::string& description) {
    if (description.size() <= kMaxNameBytes) {
        return description;
    }
    std::size_t cut = kMaxNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(description[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return description.substr(0, cut);
}

template <typename Ready> PulseMixer::Wait PulseMixer::waitUntil(Ready ready) {
    const auto deadline = std::chrono::steady_clock::now() + options_.timeout;
    while (!ready()) {
        if (!context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            return Wait::Lost;
        }
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return Wait::TimedOut;
        }
        const auto usec = std::min<std::int64_t>(left.count(), std::numeric_limits<int>::max());
        if (pa_mainloop_prepare(loop_, static_cast<int>(usec)) < 0 || pa_mainloop_poll(loop_) < 0 ||
            pa_mainloop_dispatch(loop_) < 0) {
            return Wait::Lost;
        }
    }
    return Wait::Done;
}

void PulseMixer::disconnect() {
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

MixerResult PulseMixer::connect() {
    if (!loop_) {
        return MixerResult::Unreachable;
    }
    if (context_) {
        // Take in what the server sent since the last call, a hang-up above all.
        for (int i = 0; i < 64 && pa_mainloop_iterate(loop_, 0, nullptr) > 0; ++i) {
        }
        if (pa_context_get_state(context_) == PA_CONTEXT_READY) {
            return MixerResult::Ok;
        }
        disconnect();
    }
    if (std::chrono::steady_clock::now() < quietUntil_) {
        return MixerResult::Unreachable;
    }
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "KelvoRecorder");
    if (!context_) {
        return MixerResult::Unreachable;
    }
    const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        disconnect();
        return MixerResult::Unreachable;
    }
    Wait wait = waitUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
    if (wait != Wait::Done) {
        if (wait == Wait::TimedOut) {
            quietUntil_ = std::chrono::steady_clock::now() + options_.retryAfterTimeout;
        }
        disconnect();
        return MixerResult::Unreachable;
    }
    return MixerResult::Ok;
}

MixerResult PulseMixer::finish(pa_operation* op) {
    if (!op) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            disconnect();
            return MixerResult::Unreachable;
        }
        return MixerResult::Failed;
    }
    Wait wait = waitUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    if (wait != Wait::Done) {
        // Cancelled, the callback can no longer reach the caller's reply on its stack.
        pa_operation_cancel(op);
    }
    pa_operation_unref(op);
    if (wait == Wait::TimedOut) {
        quietUntil_ = std::chrono::steady_clock::now() + options_.retryAfterTimeout;
    }
    if (wait != Wait::Done || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
        disconnect();
        return MixerResult::Unreachable;
    }
    return MixerResult::Ok;
}

std::uint32_t PulseMixer::ordinalOf(const std::string& name) {
    auto found = std::find(known_.begin(), known_.end(), name);
    if (found != known_.end()) {
        return static_cast<std::uint32_t>(found - known_.begin());
    }
    if (known_.size() >= kMaxSources) {
        return kMaxSources;
    }
    known_.push_back(name);
    return static_cast<std::uint32_t>(known_.size() - 1);
}

bool PulseMixer::nameForId(std::uint32_t id, bool volumeControl, std::string& name) const {
    if (id < kFirstSourceId || ((id - kFirstSourceId) % 2 == 1) != volumeControl) {
        return false;
    }
    std::uint32_t ordinal = (id - kFirstSourceId) / 2;
    if (ordinal >= known_.size()) {
        return false;
    }
    name = known_[ordinal];
    return true;
}

MixerResult PulseMixer::listSources(std::vector<Source>& sources) {
    struct Reply {
        std::vector<Source> sources;
        bool ok = false;
        static void callback(pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* reply = static_cast<Reply*>(data);
            if (eol != 0) {
                reply->ok = eol > 0;
                return;
            }
            reply->sources.push_back({info->index, info->name ? info->name : "",
                                      info->description ? info->description : "",
                                      info->channel_map.channels, pa_cvolume_avg(&info->volume)});
        }
    } reply;
    MixerResult result =
        finish(pa_context_get_source_info_list(context_, &Reply::callback, &reply));
    if (result != MixerResult::Ok) {
        return result;
    }
    if (!reply.ok) {
        return MixerResult::Failed;
    }
    std::sort(reply.sources.begin(), reply.sources.end(),
              [](const Source& a, const Source& b) { return a.index < b.index; });
    sources.clear();
    for (Source& source : reply.sources) {
        // Names are the server's unique keys; numbering them here fixes their IDs for good.
        if (ordinalOf(source.name) < kMaxSources) {
            sources.push_back(std::move(source));
        }
    }
    return MixerResult::Ok;
}

MixerResult PulseMixer::sourceByName(const std::string& name, Source& source) {
    struct Reply {
        Source source;
        bool found = false;
        static void callback(pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* reply = static_cast<Reply*>(data);
            if (eol == 0 && info) {
                reply->source = {info->index, info->name ? info->name : "",
                                 info->description ? info->description : "",
                                 info->channel_map.channels, pa_cvolume_avg(&info->volume)};
                reply->found = true;
            }
        }
    } reply;
    MixerResult result = finish(
        pa_context_get_source_info_by_name(context_, name.c_str(), &Reply::callback, &reply));
    if (result != MixerResult::Ok) {
        return result;
    }
    if (!reply.found) {
        return MixerResult::InvalidControl;
    }
    source = std::move(reply.source);
    return MixerResult::Ok;
}

MixerResult PulseMixer::defaultSourceName(std::string& name) {
    struct Reply {
        std::string name;
        bool ok = false;
        static void callback(pa_context*, const pa_server_info* info, void* data) {
            auto* reply = static_cast<Reply*>(data);
            if (info) {
                reply->name = info->default_source_name ? info->default_source_name : "";
                reply->ok = true;
            }
        }
    } reply;
    MixerResult result = finish(pa_context_get_server_info(context_, &Reply::callback, &reply));
    if (result != MixerResult::Ok) {
        return result;
    }
    if (!reply.ok) {
        return MixerResult::Failed;
    }
    name = std::move(reply.name);
    return MixerResult::Ok;
}

MixerResult PulseMixer::takeMuxSnapshot() {
    std::vector<Source> sources;
    MixerResult result = listSources(sources);
    if (result != MixerResult::Ok) {
        return result;
    }
    muxItems_.clear();
    for (const Source& source : sources) {
        muxItems_.push_back(source.name);
    }
    haveMuxItems_ = true;
    return MixerResult::Ok;
}

int PulseMixer::deviceCount() {
    return connect() == MixerResult::Ok ? 1 : 0;
}

MixerResult PulseMixer::open(unsigned device) {
    if (device != 0) {
        return MixerResult::BadDevice;
    }
    MixerResult result = connect();
    if (result == MixerResult::Ok) {
        opened_ = true;
    }
    return result;
}

MixerResult PulseMixer::ready() {
    if (!opened_) {
        return MixerResult::NotOpen;
    }
    return connect();
}

MixerResult PulseMixer::capabilities(MixerCaps& caps) {
    if (MixerResult result = ready(); result != MixerResult::Ok) {
        return result;
    }
    caps.destinations = 1;
    return MixerResult::Ok;
}

MixerResult PulseMixer::destinationLine(std::uint32_t destination, MixerLine& line) {
    if (MixerResult result = ready(); result != MixerResult::Ok) {
        return result;
    }
    if (destination != 0) {
        return MixerResult::InvalidLine;
    }
    std::vector<Source> sources;
    if (MixerResult result = listSources(sources); result != MixerResult::Ok) {
        return result;
    }
    line = {0, 0, kDestinationLineId, kComponentDestinationWaveIn,
            static_cast<std::uint32_t>(sources.size())};
    return MixerResult::Ok;
}

MixerResult PulseMixer::lineByComponentType(std::uint32_t componentType, MixerLine& line) {
    if (componentType != kComponentDestinationWaveIn) {
        if (MixerResult result = ready(); result != MixerResult::Ok) {
            return result;
        }
        return MixerResult::InvalidLine;
    }
    return destinationLine(0, line);
}

MixerResult PulseMixer::sourceLine(std::uint32_t destination, std::uint32_t source,
                                   MixerLine& line) {
    if (MixerResult result = ready(); result != MixerResult::Ok) {
        return result;
    }
    std::vector<Source> sources;
    if (MixerResult result = listSources(sources); result != MixerResult::Ok) {
        return result;
    }
    if (destination != 0 || source >= sources.size()) {
        return MixerResult::InvalidLine;
    }
    line = {0, source, sourceLineId(ordinalOf(sources[source].name)), kComponentSourceUndefined, 1};
    return MixerResult::Ok;
}

MixerResult PulseMixer::lineControlByType(std::uint32_t lineId, std::uint32_t controlType,
                                          MixerControl& control) {
    if (MixerResult result = ready(); result != MixerResult::Ok) {
        return result;
    }
    if (lineId == kDestinationLineId) {
        if (controlType != kControlTypeMux) {
            return MixerResult::InvalidControl;
        }
        if (MixerResult result = takeMuxSnapshot(); result != MixerResult::Ok) {
            return result;
        }
        control = {kMuxControlId, kControlTypeMux, static_cast<std::uint32_t>(muxItems_.size())};
        return MixerResult::Ok;
    }
    std::string name;
    if (!nameForId(lineId, false, name)) {
        return MixerResult::InvalidLine;
    }
    Source source;
    if (MixerResult result = sourceByName(name, source); result != MixerResult::Ok) {
        return result == MixerResult::InvalidControl ? MixerResult::InvalidLine : result;
    }
    if (controlType != kControlTypeVolume) {
        return MixerResult::InvalidControl;
    }
    control = {volumeControlId((lineId - kFirstSourceId) / 2), kControlTypeVolume, 0};
    return MixerResult::Ok;
}

MixerResult PulseMixer::listTexts(std::uint32_t controlId, std::uint32_t items,
                                  std::vector<MixerListText>& texts) {
    if (MixerResult result = ready(); result != MixerResult::Ok) {
        return result;
    }
    if (controlId != kMuxControlId) {
        return MixerResult::InvalidControl;
    }
    if (!haveMuxItems_) {
        if (MixerResult result = takeMuxSnapshot(); result != MixerResult::Ok) {
            return result;
        }
    }
    if (items != muxItems_.size()) {
        return MixerResult::InvalidValue;
    }
    std::vector<Source> sources;
    if (MixerResult result = listSources(sources); result != MixerResult::Ok) {
        return result;
    }
    texts.assign(items, MixerListText{});
    for (std::size_t i = 0; i < items; ++i) {
        auto current = std::find_if(sources.begin(), sources.end(),
                                    [&](const Source& s) { return s.name == muxItems_[i]; });
        std::string label = muxItems_[i];
        if (current != sources.end() && !current->description.empty()) {
            label = current->description;
        }
        label = itemName(label);
        std::memcpy(texts[i].name.data(), label.data(), label.size());
        texts[i].param1 = sourceLineId(ordinalOf(muxItems_[i]));
    }
    return MixerResult::Ok;
}

MixerResult PulseMixer::booleanValues(std::uint32_t controlId, std::uint32_t items,
                                      std::vector<std::int32_t>& values) {
    if (MixerResult result = ready(); result != MixerResult::Ok) {
        return result;
    }
    if (controlId != kMuxControlId || !haveMuxItems_) {
        return MixerResult::InvalidControl;
    }
    if (items != muxItems_.size()) {
        return MixerResult::InvalidValue;
    }
    std::string on = chosen_;
    if (on.empty()) {
        if (MixerResult result = defaultSourceName(on); result != MixerResult::Ok) {
            return result;
        }
    }
    values.assign(items, 0);
    for (std::size_t i = 0; i < items; ++i) {
        values[i] = muxItems_[i] == on ? 1 : 0;
    }
    return MixerResult::Ok;
}

MixerResult PulseMixer::setBooleanValues(std::uint32_t controlId,
                                         const std::vector<std::int32_t>& values) {
    if (MixerResult result = ready(); result != MixerResult::Ok) {
        return result;
    }
    if (controlId != kMuxControlId || !haveMuxItems_) {
        return MixerResult::InvalidControl;
    }
    if (values.size() != muxItems_.size()) {
        return MixerResult::InvalidValue;
    }
    // A single-select list: the first item switched on wins; none switched on is refused.
    auto chosen = std::find_if(values.begin(), values.end(), [](std::int32_t v) { return v != 0; });
    if (chosen == values.end()) {
        return MixerResult::InvalidValue;
    }
    // The recorder's choice alone: the server's default belongs to the user's other programs.
    chosen_ = muxItems_[static_cast<std::size_t>(chosen - values.begin())];
    return MixerResult::Ok;
}

MixerResult PulseMixer::unsignedValue(std::uint32_t controlId, std::uint32_t& value) {
    if (MixerResult result = ready(); result != MixerResult::Ok) {
        return result;
    }
    std::string name;
    if (!nameForId(controlId, true, name)) {
        return MixerResult::InvalidControl;
    }
    Source source;
    if (MixerResult result = sourceByName(name, source); result != MixerResult::Ok) {
        return result;
    }
    value = toDeviceLevel(source.averageVolume);
    return MixerResult::Ok;
}

MixerResult PulseMixer::setUnsignedValue(std::uint32_t controlId, std::uint32_t value) {
    if (MixerResult result = ready(); result != MixerResult::Ok) {
        return result;
    }
    std::string name;
    if (!nameForId(controlId, true, name)) {
        return MixerResult::InvalidControl;
    }
    if (value > 65535) {
        return MixerResult::InvalidValue;
    }
    Source source;
    if (MixerResult result = sourceByName(name, source); result != MixerResult::Ok) {
        return result;
    }
    if (!pa_channels_valid(source.channels)) {
        return MixerResult::Failed;
    }
    pa_cvolume volume;
    pa_cvolume_set(&volume, source.channels, toPulseVolume(value));
    SuccessReply reply;
    MixerResult result = finish(pa_context_set_source_volume_by_name(
        context_, name.c_str(), &volume, &SuccessReply::callback, &reply));
    if (result != MixerResult::Ok) {
        return result;
    }
    return reply.ok ? MixerResult::Ok : MixerResult::Failed;
}

} // namespace kelvo
