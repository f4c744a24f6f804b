#include "recorder/shows/show_settings.h"

#include <algorithm>

namespace kelvo {

namespace {

void takeEntry(std::string& setting, const std::optional<std::string>& loaded,
               const std::vector<std::string>& entries) {
    if (loaded && std::find(entries.begin(), entries.end(), *loaded) != entries.end()) {
        setting = *loaded;
    }
}

} // namespace

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
