#include "recorder/shows/show_settings.h"

#include "recorder/schedule/schedule.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace kelvo {

namespace {

void takeEntry(std::string& setting, const std::optional<std::string>& loaded,
               const std::vector<std::string>& entries) {
    if (loaded && std::find(entries.begin(), entries.end(), *loaded) != entries.end()) {
        setting = *loaded;
    }
}

constexpr const char* kRecordStreamKey = "recordStream";
constexpr const char* kKeepStreamKey = "keepStream";
constexpr const char* kOpenEarlyKey = "openEarlySeconds";

bool flag(const ShowSideSettings& side, const char* key) {
    const auto value = side.values.find(key);
    return value != side.values.end() && value->second == "1";
}

void put(ShowSideSettings& side, const char* key, std::optional<std::string> value) {
    if (value) {
        side.values[key] = std::move(*value);
    } else {
        side.values.erase(key);
    }
}

} // namespace

WebcastSettings webcastSettings(const ShowSideSettings& side) {
    WebcastSettings webcast;
    webcast.recordStream = flag(side, kRecordStreamKey);
    webcast.keepStream = flag(side, kKeepStreamKey);
    if (const auto early = side.values.find(kOpenEarlyKey); early != side.values.end()) {
        const std::string& text = early->second;
        int seconds = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
        if (error == std::errc() && end == text.data() + text.size() && seconds >= 0 &&
            seconds <= WebcastSettings::kMaxOpenEarlySeconds) {
            webcast.openEarlySeconds = seconds;
        }
    }
    return webcast;
}

void setWebcastSettings(ShowSideSettings& side, const WebcastSettings& webcast) {
    const auto on = [](bool value) {
        return value ? std::optional<std::string>("1") : std::nullopt;
    };
    put(side, kRecordStreamKey, on(webcast.recordStream));
    put(side, kKeepStreamKey, on(webcast.keepStream));
    put(side, kOpenEarlyKey,
        webcast.openEarlySeconds > 0 ? std::optional(std::to_string(webcast.openEarlySeconds))
                                     : std::nullopt);
}

std::string timeZoneSetting(const ShowSideSettings& side) {
    const auto zone = side.values.find(kTimeZoneSetting);
    return zone == side.values.end() ? std::string() : zone->second;
}

void setTimeZoneSetting(ShowSideSettings& side, const std::string& zone) {
    put(side, kTimeZoneSetting, zone.empty() ? std::nullopt : std::optional(zone));
}

ShowRecord mergedShowRecord(const ShowRecord& current, const LoadedShowRecord& loaded,
                            const ShowListEntries& lists) {
    ShowRecord show = current;
    show.startTime = loaded.startTime.value_or(show.startTime);
    show.stopTime = loaded.stopTime.value_or(show.stopTime);
    takeEntry(show.outputFormat, loaded.outputFormat, lists.outputFormats);
    takeEntry(show.mp3Quality, loaded.mp3Quality, lists.mp3Qualities);
    takeEntry(show.sampleRate, loaded.sampleRate, lists.sampleRates);
    takeEntry(show.channels, loaded.channels, lists.channels);
    if (loaded.windowLeft) {
        show.windowLeft = static_cast<float>(*loaded.windowLeft);
    }
    if (loaded.windowTop) {
        show.windowTop = static_cast<float>(*loaded.windowTop);
    }
    show.webcastAddress = loaded.webcastAddress.value_or(show.webcastAddress);
    if (loaded.inputLevel && *loaded.inputLevel >= kMinInputLevel &&
        *loaded.inputLevel <= kMaxInputLevel) {
        show.inputLevel = *loaded.inputLevel;
    }
    show.wmaQuality = loaded.wmaQuality.value_or(show.wmaQuality);
    show.sourceName = loaded.sourceName.value_or(show.sourceName);
    for (std::size_t day = 0; day < show.weekdays.size(); ++day) {
        const auto& value = loaded.weekdays[day];
        if (value && (*value == 0 || *value == 1)) {
            show.weekdays[day] = *value;
        }
    }
    return show;
}

} // namespace kelvo
