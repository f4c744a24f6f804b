// The Recordings window: every recording in the sound folder, newest first, for the current
// show or for all shows, each with its date, length, size and verdict, and what can be done
// with it: play it, show it in its folder, move it to the trash, read its full report.
//
// It holds no state of its own beyond what it shows: the list is read again from the
// reports (and the running recording from its controller) every few seconds while the
// window is open, so it follows a recording as it runs and ends.
#pragma once

#include "recorder/platform/process_launcher.h"
#include "recorder/recording/recording_controller.h"
#include "recorder/recording/recordings_list.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <vector>

namespace kelvo {

class RecordingsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 2000;

    RecordingsWindow(QString dataFolder, ProcessLauncher& launcher,
                     const RecordingController& recording, QWidget* parent = nullptr);

    // Shows the window for `show` (the current show; all shows if the user chose so).
    void open(const QString& forShow);
    void refresh();

    const std::vector<RecordingEntry>& entries() const { return entries_; }

private:
    const RecordingEntry* selected() const;
    void selectionChanged();
    void play();
    void showInFolder();
    void moveToTrash();

    QString dataFolder_;
    ProcessLauncher& launcher_;
    const RecordingController& recording_;
    QString show_;
    std::vector<RecordingEntry> entries_;
    QCheckBox* allShows_;
    QTreeWidget* list_;
    QPushButton *play_, *showInFolder_, *trash_;
    QPlainTextEdit* report_;
    QLabel* status_;
    QTimer refresh_;
};

} // namespace kelvo
