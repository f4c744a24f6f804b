#include "recorder/mixer/recording_sources.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace kelvo {

std::uint32_t deviceLevel(int position) {
    position = std::clamp(position, 0, 100);
    return static_cast<std::uint32_t>(std::nearbyint(65535.0 - position * 655.35));
}

RecordingSources::RecordingSources(const MixerState& mixer, QComboBox& sourceList,
                                   QSlider& inputLevel, QObject* parent)
    : QObject(parent), mixer_(mixer), sourceList_(sourceList), inputLevel_(inputLevel) {
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

void RecordingSources::fillSourceList() {
    // Filling selects the first entry by itself; the source is applied once it is shown.
    QSignalBlocker blocker(sourceList_);
    for (const SourceEntry& entry : mixer_.sources) {
        sourceList_.addItem(QString::fromStdString(entry.name));
    }
}

void RecordingSources::showSource(const std::string& name) {
    const int count = sourceList_.count();
    if (count == 0) {
        return;
    }
    const int index = sourceList_.findText(QString::fromStdString(name));
    if (index < 0 && !name.empty()) {
        // Never another source in its place: the list says what is missing, the mixer is left
        // alone, and a recording waits for this one.
        missing_ = name;
        const QSignalBlocker blocker(sourceList_);
        sourceList_.setPlaceholderText(QString::fromStdString(name) +
                                       QStringLiteral(" (not there)"));
        sourceList_.setCurrentIndex(-1);
        return;
    }
    missing_.clear();
    if (index < 0) {
        return;
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
            selectedSource_ = static_cast<int>(i);
        }
    }
}

bool RecordingSources::setRecordingSelection(std::int32_t value) {
    const std::size_t items = mixer_.sources.size();
    if (!mixer_.device || items == 0 || selectedSource_ < 0 ||
        static_cast<std::size_t>(selectedSource_) >= items) {
        return false;
    }
    std::vector<std::int32_t> values;
    if (mixer_.device->booleanValues(mixer_.selectionControlId, static_cast<std::uint32_t>(items),
                                     values) != MixerResult::Ok ||
        values.size() != items) {
        return false;
    }
    std::fill(values.begin(), values.end(), 0);
    values[static_cast<std::size_t>(selectedSource_)] = value;
    return mixer_.device->setBooleanValues(mixer_.selectionControlId, values) == MixerResult::Ok;
}

void RecordingSources::setSourceVolume(std::uint32_t level) {
    if (!mixer_.device || !missing_.empty() || selectedSource_ < 0 ||
        static_cast<std::size_t>(selectedSource_) >= mixer_.sources.size()) {
        return;
    }
    const SourceEntry& entry = mixer_.sources[static_cast<std::size_t>(selectedSource_)];
    mixer_.device->setUnsignedValue(static_cast<std::uint32_t>(entry.volumeControlId), level);
}

void RecordingSources::applySourceSelection() {
    if (sourceList_.currentIndex() < 0) {
        return; // nothing chosen, or the chosen source is not there
    }
    missing_.clear();
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
    if (!missing_.empty()) {
        return missing_;
    }
    if (selectedSource_ < 0 || static_cast<std::size_t>(selectedSource_) >= mixer_.sources.size()) {
        return {};
    }
    return mixer_.sources[static_cast<std::size_t>(selectedSource_)].name;
}

} // namespace kelvo
