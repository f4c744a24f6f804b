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
#include <QTimeEdit>
#include <QTimer>
#include <QWidget>

#include <array>

namespace kelvo {

// Typed access to the controls, named as on the window.
struct MainWindowControls {
    QLabel* label1;                     // clock label
    QLabel* label6;                     // status line
    QTimeEdit* dtPicker1;               // start time
    QTimeEdit* dtPicker3;               // stop time
    QPushButton* command1;              // Rec
    QPushButton* command2;              // Stop
    QPushButton* command3;              // Pause
    QPushButton* command4;              // expand to the settings width
    QPushButton* command5;              // expand to the full width
    QPushButton* command6;              // delete show
    std::array<QCheckBox*, 7> weekdays; // Check2 (Sunday) .. Check8 (Saturday)
    QCheckBox* check1;                  // Monitor Source
    LevelMeter* picture1;               // left meter
    LevelMeter* picture2;               // right meter
    QLabel* picture3;                   // meter image holders, never shown
    QLabel* picture4;
    QSlider* slider1;   // input level, 0 (loudest) at the top
    QComboBox* combo1;  // sample rate
    QComboBox* combo2;  // output format
    QComboBox* combo3;  // channels
    QComboBox* combo4;  // MP3 quality
    QComboBox* combo5;  // source
    QComboBox* combo6;  // WMA quality
    QListWidget* file1; // show list
    QLineEdit* text1;   // show name, hidden until edited
    QLineEdit* text4;   // webcast address
    QTimer* timer1;     // clock tick, 1000 ms
    QTimer* timer2;     // meter poll, 50 ms
    QTimer* timer3;     // right peak hold, 2000 ms
    QTimer* timer4;     // left peak hold, 2000 ms
    QTimer* timer5;     // blink, 1000 ms
    QTimer* timer8;     // monitoring limit, 60000 ms
};

// Builds every control on `window` (its font too) and returns them; `logicalDpi` turns the
// design's twips into pixels.
MainWindowControls buildMainWindowForm(QWidget& window, double logicalDpi);

// The clock, the pickers and the schedule compare times as texts in this one form,
// whatever the desktop's own regional settings are.
QLocale timeLocale();
inline constexpr char kTimeFormat[] = "h:mm:ss AP";

} // namespace kelvo
