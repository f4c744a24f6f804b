// The recording source and its input level: the source list and the input-level slider on one
// side, the mixer's selection control and the chosen source's volume control on the other.
//
// Every change of the list's selection (by the user or the program) applies the source to the
// mixer; every slider movement applies the level to the selected source. Setting the slider to
// the position it already has writes nothing.
//
// A name that matches no entry (a stored show's source on another machine, or "Microphone" on
// a card that names its microphone otherwise) leaves the list on the entry at the selected
// source index, the first one until a name has matched, and applies that entry to the mixer,
// so the list, the selected index and the mixer agree on what is recorded.
//
// Threading: the window's thread only, like the widgets it is given.
#pragma once

#include "recorder/mixer/mixer_startup.h"

#include <QObject>

#include <cstdint>
#include <string>

class QComboBox;
class QLineEdit;
class QSlider;

namespace kelvo {

// Carried between start-up, show loading and saving; the window owns it.
struct HeldMixerSettings {
    std::string sourceName;
    int inputLevel = 50; // slider position, 0 (top, loudest) to 100
    std::string webcastAddress;
    int selectedSource = 0; // index into the source-line table and the source list
};

// The volume value for a slider position: 65535 at the top (0), 0 at the bottom (100).
std::uint32_t deviceLevel(int position);

class RecordingSources : public QObject {
public:
    // The widgets must outlive this object. The list must be a non-editable drop-down and the
    // slider range 0..100; the list is filled by InitializeSources.
    RecordingSources(const MixerState& mixer, HeldMixerSettings& held, QComboBox& sourceList,
                     QSlider& inputLevel, QLineEdit& webcastAddress, QObject* parent = nullptr);

    // Fills the source list and sets it, the slider and the webcast address box from the held
    // values ("Microphone" when no source name is held yet).
    void InitializeSources();

    // Applies values read from a show: held values, webcast address box, slider, source list,
    // then select source by name with the held name.
    void loadSettings(const std::string& sourceName, int inputLevel,
                      const std::string& webcastAddress);

    // Held values := what the list, the slider and the webcast address box show.
    void rememberMixerSettings();

    // Sets the list's selection to the entry with this text, or keeps the entry at the
    // selected source index when none has it, and applies it to the mixer either way.
    void showSource(const std::string& name);

    // The last entry with exactly this name becomes the selected source; none: unchanged.
    void selectSourceByName(const std::string& name);
    // Switches the selected entry's item to `value` and every other item off.
    bool setRecordingSelection(std::int32_t value);
    void setSourceVolume(std::uint32_t level);

    void applySourceSelection();
    void applyInputLevel();

    // The name of the entry at the selected source index; empty when there is none.
    std::string selectedSourceName() const;
    // The sound system's name of the source last switched on, for the capture engine; empty
    // for the default source.
    std::string chosenSourceId() const;

private:
    const MixerState& mixer_;
    HeldMixerSettings& held_;
    QComboBox& sourceList_;
    QSlider& inputLevel_;
    QLineEdit& webcastAddress_;
};

} // namespace kelvo
