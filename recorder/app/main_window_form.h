// The window's face (Form1) as designed: its panels and controls at their places in twips,
// their captions, tips and object names, and the timers. Only construction lives here;
// the window wires the controls to its subsystems.
#pragma once

#include "recorder/meters/level_meter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>
#include <QWidget>

#include <array>

namespace kelvo {

// Typed access to the controls, named as on the window.
struct MainWindowControls {
    QLabel* clockLabel;                 // Label1
    QLabel* statusLine;                 // Label6
    QTimeEdit* startTime;               // DTPicker1
    QTimeEdit* stopTime;                // DTPicker3
    QComboBox* timeZone;                // ComboZone: the zone the times are read in
    QPushButton* recordButton;          // Command1, "Rec"
    QPushButton* stopButton;            // Command2
    QPushButton* pauseButton;           // Command3
    QPushButton* settingsWidthButton;   // Command4: expand to the settings width
    QPushButton* fullWidthButton;       // Command5: expand to the full width
    QPushButton* deleteShowButton;      // Command6
    std::array<QCheckBox*, 7> weekdays; // Check2 (Sunday) .. Check8 (Saturday)
    QCheckBox* monitorSource;           // Check1
    LevelMeter* leftMeter;              // Picture1
    LevelMeter* rightMeter;             // Picture2
    QLabel* meterImageHolder1;          // Picture3: holds the meter image, never shown
    QLabel* meterImageHolder2;          // Picture4: likewise
    QSlider* inputLevel;                // Slider1, 0 (loudest) at the top
    QComboBox* sampleRate;              // Combo1
    QComboBox* outputFormat;            // Combo2
    QComboBox* channels;                // Combo3
    QComboBox* mp3Quality;              // Combo4
    QComboBox* sourceList;              // Combo5
    QComboBox* wmaQuality;              // Combo6
    QListWidget* showList;              // File1
    QLineEdit* showName;                // Text1, hidden until edited
    QLineEdit* webcastAddress;          // Text4
    QCheckBox* recordStream;            // CheckStream: "Record the stream itself (no browser)"
    QCheckBox* keepStream;              // CheckKeepStream
    QSpinBox* openEarly;                // SpinOpenEarly: seconds the address opens early
    QTimer* clockTick;                  // Timer1, 1000 ms
    QTimer* meterPoll;                  // Timer2, 50 ms
    QTimer* rightPeakHold;              // Timer3, 2000 ms
    QTimer* leftPeakHold;               // Timer4, 2000 ms
    QTimer* blink;                      // Timer5, 1000 ms
    QTimer* monitoringLimit;            // Timer8, 60000 ms
};

// Builds every control on `window` (its font too) and returns them; `logicalDpi` turns the
// design's twips into pixels.
MainWindowControls buildMainWindowForm(QWidget& window, double logicalDpi);

// The time pickers show their times in this one form, as the clock label does, whatever the
// desktop's own regional settings are; the schedule reads their values, never their texts.
QLocale timeLocale();
inline constexpr char kTimeFormat[] = "h:mm:ss AP";

// The time-zone list's first entry: the show keeps no zone of its own and follows the
// computer's. The other entries are IANA names.
inline constexpr char kComputersTimeZone[] = "Computer's zone";

} // namespace kelvo
