#include "recorder/mixer/recording_sources.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace kelvo {

std::uint32_t deviceLevel(int position) {
    position = std::clamp(position, 0, 100);
    return static_cast<std::uint32_t>(std::nearbyint(65535.0 - position * 655.35));
}

RecordingSources::RecordingSources(const MixerState& mixer, HeldMixerSettings& held,
                                   QComboBox& sourceList, QSlider& inputLevel,
                                   QLineEdit& webcastAddress, QObject* parent)
    : QObject(parent), mixer_(mixer), held_(held), sourceList_(sourceList), inputLevel_(inputLevel),
      webcastAddress_(webcastAddress) {
    connect(&sourceList_, &QComboBox::currentIndexChanged, this,
            [this] { applySourceSelection(); });
    connect(&inputLevel_, &QSlider::valueChanged, this, [this] { applyInputLevel(); });
    // With tracking on, valueChanged already follows the thumb.
    connect(&inputLevel_, &QSlider::sliderMoved, this, [this](int position) {
        if (!inputLevel_.hasTracking()) {
            setSourceVolume(deviceLevel(position));
        }
    });
}

void RecordingSources::InitializeSources() {
    {
        // Filling selects the first entry by itself; the source is applied once, below.
        QSignalBlocker blocker(sourceList_);
        for (const SourceEntry& entry : mixer_.sources) {
            sourceList_.addItem(QString::fromStdString(entry.name));
        }
    }
    if (held_.sourceName.empty()) {
        held_.sourceName = "Microphone";
    }
    showSource(held_.sourceName);
    inputLevel_.setValue(held_.inputLevel);
    webcastAddress_.setText(QString::fromStdString(held_.webcastAddress));
}

void RecordingSources::loadSettings(const std::string& sourceName, int inputLevel,
                                    const std::string& webcastAddress) {
    held_.sourceName = sourceName;
    held_.inputLevel = inputLevel;
    held_.webcastAddress = webcastAddress;
    webcastAddress_.setText(QString::fromStdString(held_.webcastAddress));
    inputLevel_.setValue(held_.inputLevel);
    showSource(held_.sourceName);
    selectSourceByName(held_.sourceName);
}

void RecordingSources::rememberMixerSettings() {
    held_.sourceName = sourceList_.currentText().toStdString();
    held_.inputLevel = inputLevel_.value();
    held_.webcastAddress = webcastAddress_.text().toStdString();
}

void RecordingSources::showSource(const std::string& name) {
    const int count = sourceList_.count();
    if (count == 0) {
        return;
    }
    int index = sourceList_.findText(QString::fromStdString(name));
    if (index < 0) {
        index = std::clamp(held_.selectedSource, 0, count - 1);
    }
    if (sourceList_.currentIndex() == index) {
        applySourceSelection(); // setting the same entry again still applies it
    } else {
        sourceList_.setCurrentIndex(index);
    }
}

void RecordingSources::selectSourceByName(const std::string& name) {
    // Compared as the list shows them, so a name that is not clean UTF-8 still finds itself.
    const QString wanted = QString::fromStdString(name);
    for (std::size_t i = 0; i < mixer_.sources.size(); ++i) {
        if (QString::fromStdString(mixer_.sources[i].name) == wanted) {
            held_.selectedSource = static_cast<int>(i);
        }
    }
}

bool RecordingSources::setRecordingSelection(std::int32_t value) {
    const std::size_t items = mixer_.sources.size();
    if (!mixer_.device || items == 0 || held_.selectedSource < 0 ||
        static_cast<std::size_t>(held_.selectedSource) >= items) {
        return false;
    }
    std::vector<std::int32_t> values;
    if (mixer_.device->booleanValues(mixer_.selectionControlId, static_cast<std::uint32_t>(items),
                                     values) != MixerResult::Ok ||
        values.size() != items) {
        return false;
    }
    std::fill(values.begin(), values.end(), 0);
    values[static_cast<std::size_t>(held_.selectedSource)] = value;
    return mixer_.device->setBooleanValues(mixer_.selectionControlId, values) == MixerResult::Ok;
}

void RecordingSources::setSourceVolume(std::uint32_t level) {
    if (!mixer_.device || held_.selectedSource < 0 ||
        static_cast<std::size_t>(held_.selectedSource) >= mixer_.sources.size()) {
        return;
    }
    const SourceEntry& entry = mixer_.sources[static_cast<std::size_t>(held_.selectedSource)];
    mixer_.device->setUnsignedValue(static_cast<std::uint32_t>(entry.volumeControlId), level);
}

void RecordingSources::applySourceSelection() {
    selectSourceByName(sourceList_.currentText().toStdString());
    setRecordingSelection(1);
    setSourceVolume(deviceLevel(inputLevel_.value()));
}

void RecordingSources::applyInputLevel() {
    setSourceVolume(deviceLevel(inputLevel_.value()));
}

std::string RecordingSources::chosenSourceId() const {
    return mixer_.device ? mixer_.device->chosenSource() : std::string();
}

std::string RecordingSources::selectedSourceName() const {
    if (held_.selectedSource < 0 ||
        static_cast<std::size_t>(held_.selectedSource) >= mixer_.sources.size()) {
        return {};
    }
    return mixer_.sources[static_cast<std::size_t>(held_.selectedSource)].name;
}

} // namespace kelvo
