// Binds the window's show controls to the current show: a control's change goes into the
// show, a change of the show goes to its control. A control set by the binding runs its own
// handlers as the user's change would (the format rule, the mixer's source and level), which
// the loading order relies on.
//
// The time-zone list takes a typed name too: a name no zone has is refused (zoneRefused) and
// the list shows the show's zone again, so nothing is scheduled in a zone nobody chose. A
// stored name the system does not know is shown as stored; the loader tells about it.
//
// Two settings bind one way only: the window's place is read into the show when it is saved
// (a window manager moves windows without telling), and the WMA quality list only shows what
// a loaded show holds, since nothing else changes it.
//
// Threads: the window's thread only, like the controls.
#pragma once

#include "recorder/mixer/recording_sources.h"
#include "recorder/shows/current_show.h"

#include <QObject>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSlider;
class QSpinBox;
class QTimeEdit;
class QWidget;

namespace kelvo {

struct ShowControlWidgets {
    QWidget* window;                    // Form1: moved to the show's place
    QTimeEdit* startTime;               // DTPicker1
    QTimeEdit* stopTime;                // DTPicker3
    QComboBox* sampleRate;              // Combo1
    QComboBox* outputFormat;            // Combo2
    QComboBox* channels;                // Combo3
    QComboBox* mp3Quality;              // Combo4
    QComboBox* sourceList;              // Combo5
    QComboBox* wmaQuality;              // Combo6
    QSlider* inputLevel;                // Slider1
    QLineEdit* webcastAddress;          // Text4
    std::array<QCheckBox*, 7> weekdays; // Check2 (Sunday) .. Check8 (Saturday)
    // The webcast's settings kept beside the show file.
    QCheckBox* recordStream; // CheckStream
    QCheckBox* keepStream;   // CheckKeepStream
    QSpinBox* openEarly;     // SpinOpenEarly
    QComboBox* timeZone;     // ComboZone: entry 0 is the computer's zone
};

class ShowBinding : public QObject {
    Q_OBJECT

public:
    // Everything given must outlive the binding.
    ShowBinding(CurrentShow& show, const ShowControlWidgets& widgets, RecordingSources& sources,
                QObject* parent = nullptr);

    // The start-up defaults onto the controls that have them: times, lists, weekdays.
    void showDefaults();
    // Fills the source list from the mixer and shows the show's source ("Microphone" while
    // it names none), input level and webcast address.
    void initializeSources();
    // The enabling rule of the output-format and quality lists; the binding runs it when the
    // sample rate or the output format changes and after a load.
    void updateFormatDependentLists();
    // The texts the window's fixed lists accept.
    ShowListEntries listEntries() const;

signals:
    // A typed zone name was not taken: `typed` names no zone this system knows.
    void zoneRefused(const QString& typed);

private:
    void fromControl(const std::function<void()>& update);
    void showField(ShowField field);
    void showLoaded();
    void showWindowPosition();
    void showWebcastSettings();
    void webcastFromControls();
    void enableWebcastControls(bool recordStream);
    void showTimeZone();
    void zonePicked(int index);
    void zoneTyped();

    CurrentShow& show_;
    ShowControlWidgets widgets_;
    RecordingSources& sources_;
    // Set while the show and the controls are being brought in line: a change coming back
    // from the other side is not passed on again.
    bool syncing_ = false;
};

} // namespace kelvo
