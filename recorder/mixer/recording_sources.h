// The recording source and its input level: the source list and the input-level slider on one
// side, the mixer's selection control and the chosen source's volume control on the other.
//
// Every change of the list's selection (by the user or the program) applies the source to the
// mixer; every slider movement applies the level to the selected source. Setting the slider to
// the position it already has writes nothing.
//
// A name that matches no entry (a stored show's source that is unplugged or unloaded, or one
// from another machine) is never replaced by another source: the list shows "NAME (not
// there)" with no entry chosen, the mixer is left alone, and the name stays the chosen one
// until the user picks an entry.
//
// Threading: the window's thread only, like the widgets it is given.
#pragma once

#include "recorder/mixer/mixer_startup.h"
#include "recorder/mixer/source_selection.h"

#include <QObject>

#include <cstdint>
#include <string>

class QComboBox;
class QSlider;

namespace kelvo {

// The volume value for a slider position: 65535 at the top (0), 0 at the bottom (100).
std::uint32_t deviceLevel(int position);

class RecordingSources : public QObject, public SourceSelection {
public:
    // The widgets and the mixer state must outlive this object; the mixer may start later.
    // The list must be a non-editable drop-down and the slider range 0..100.
    RecordingSources(const MixerState& mixer, QComboBox& sourceList, QSlider& inputLevel,
                     QObject* parent = nullptr);

    // Fills the source list from the mixer's source lines (selecting no source yet).
    void fillSourceList();

    // Sets the list's selection to the entry with this text and applies it to the mixer; a
    // name no entry has becomes the missing source.
    void showSource(const std::string& name);

    // The last entry with exactly this name becomes the selected source; none: unchanged.
    void selectSourceByName(const std::string& name);
    // Switches the selected entry's item to `value` and every other item off.
    bool setRecordingSelection(std::int32_t value);
    void setSourceVolume(std::uint32_t level);

    void applySourceSelection() override;
    void applyInputLevel();

    // The source the show asked for that the list lacks; empty when it has it.
    const std::string& missingSource() const { return missing_; }

    // The missing source, else the name of the entry at the selected source index; empty
    // when there is none.
    std::string selectedSourceName() const override;
    std::string chosenSourceId() const override;
    // Index into the source-line table and the source list.
    int selectedSource() const { return selectedSource_; }

private:
    const MixerState& mixer_;
    QComboBox& sourceList_;
    QSlider& inputLevel_;
    int selectedSource_ = 0;
    std::string missing_;
};

} // namespace kelvo
