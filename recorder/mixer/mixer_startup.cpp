#include "recorder/mixer/mixer_startup.h"

#include <QMessageBox>
#include <QString>

#include <algorithm>
#include <cstring>

namespace kelvo {

namespace {

constexpr std::int32_t kUsedMark = 100000000;
// Far beyond any sound card; a larger count is a broken driver, not a list to allocate.
constexpr std::uint32_t kMaxSelectionItems = 4096;

bool findRecordingSelection(MixerDevice& device, MixerState& state) {
    MixerLine destination;
    if (device.lineByComponentType(kComponentDestinationWaveIn, destination) != MixerResult::Ok) {
        return false;
    }
    MixerControl control;
    if (device.lineControlByType(destination.lineId, kControlTypeMixer, control) !=
            MixerResult::Ok &&
        device.lineControlByType(destination.lineId, kControlTypeMux, control) != MixerResult::Ok) {
        return false;
    }
    const std::uint32_t items = control.multipleItems;
    if (items == 0 || items > kMaxSelectionItems) {
        return false;
    }
    state.selectionControlId = control.controlId;
    state.sources.assign(items, SourceEntry{});

    std::vector<MixerListText> texts;
    if (device.listTexts(control.controlId, items, texts) != MixerResult::Ok ||
        texts.size() != items) {
        state.sources.clear();
        return false;
    }
    for (std::uint32_t i = 0; i < items; ++i) {
        const auto& name = texts[i].name;
        state.sources[i].name.assign(name.data(), strnlen(name.data(), name.size() - 1));
        state.sources[i].lineId = static_cast<std::int32_t>(texts[i].param1);
    }
    return true;
}

// Every failure here is ignored: an entry without a volume control keeps 0.
void findSourceVolumeControls(MixerDevice& device, std::vector<SourceEntry>& sources) {
    MixerCaps caps;
    if (device.capabilities(caps) != MixerResult::Ok) {
        return;
    }
    MixerLine destination;
    bool found = false;
    for (std::uint32_t d = 0; d < caps.destinations && !found; ++d) {
        MixerLine line;
        if (device.destinationLine(d, line) == MixerResult::Ok &&
            line.componentType == kComponentDestinationWaveIn) {
            destination = line;
            destination.destination = d;
            found = true;
        }
    }
    if (!found) {
        return;
    }
    // Source lines beyond the selection's items have no entry to go to.
    const std::size_t lines = std::min<std::size_t>(destination.connections, sources.size());
    for (std::size_t j = 0; j < lines; ++j) {
        MixerLine source;
        MixerControl volume;
        if (device.sourceLine(destination.destination, static_cast<std::uint32_t>(j), source) ==
                MixerResult::Ok &&
            device.lineControlByType(source.lineId, kControlTypeVolume, volume) ==
                MixerResult::Ok) {
            sources[j].volumeControlId = static_cast<std::int32_t>(volume.controlId);
        }
    }
}

// Signed comparison; on a tie the lowest index wins.
std::size_t smallestIndex(const std::vector<std::int32_t>& values) {
    std::size_t smallest = 0;
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (values[i] < values[smallest]) {
            smallest = i;
        }
    }
    return smallest;
}

} // namespace

void pairVolumeControls(std::vector<SourceEntry>& sources) {
    std::vector<std::int32_t> lineIds;
    std::vector<std::int32_t> volumeIds;
    for (const SourceEntry& entry : sources) {
        lineIds.push_back(entry.lineId);
        volumeIds.push_back(entry.volumeControlId);
    }
    for (std::size_t round = 0; round < sources.size(); ++round) {
        std::size_t v = smallestIndex(volumeIds);
        std::int32_t volume = volumeIds[v];
        volumeIds[v] = kUsedMark;
        std::size_t k = smallestIndex(lineIds);
        lineIds[k] = kUsedMark;
        sources[k].volumeControlId = volume;
    }
}

const char* mixerStartupMessage(MixerStartup result) {
    switch (result) {
    case MixerStartup::NoMixer:
        return kNoMixerMessage;
    case MixerStartup::OpenFailed:
        return kOpenFailedMessage;
    case MixerStartup::Ready:
    case MixerStartup::NoRecordingSelection:
        break;
    }
    return nullptr;
}

MixerStartup startMixer(MixerDevice& device, MixerState& state, const CriticalMessage& show) {
    state = MixerState{};
    if (device.deviceCount() <= 0) {
        show(kMixerErrorTitle, kNoMixerMessage);
        return MixerStartup::NoMixer;
    }
    if (device.open(0) != MixerResult::Ok) {
        show(kMixerErrorTitle, kOpenFailedMessage);
        return MixerStartup::OpenFailed;
    }
    state.device = &device;
    if (!findRecordingSelection(device, state)) {
        return MixerStartup::NoRecordingSelection;
    }
    findSourceVolumeControls(device, state.sources);
    pairVolumeControls(state.sources);
    return MixerStartup::Ready;
}

void showCriticalMessageBox(const std::string& title, const std::string& text) {
    // The messages carry CR LF line breaks; the box breaks lines on LF alone.
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(title), shown, QMessageBox::Ok);
    box.exec();
}

} // namespace kelvo
