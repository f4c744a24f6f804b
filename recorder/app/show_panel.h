// The show panel: loading and saving the current show (CurrentShow), the show list (File1),
// the show-name box (Text1) and the delete-show button (Command6), and show files handed over
// on the command line or dropped on the window. Loading and saving work on the current show,
// never on the controls, which follow it through ShowBinding.
//
// The panel is either listing (File1 shown) or naming (Text1 shown and focused). Selection
// changes the program makes itself run under the list selection guard, so only the user's
// choices switch shows.
//
// Window's thread only, like the controls.
#pragma once

#include "recorder/shows/current_show.h"
#include "recorder/shows/show_store.h"

#include <QLineEdit>
#include <QListWidget>
#include <QObject>
#include <QPushButton>

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QListWidgetItem;
class QMimeData;

namespace kelvo {

struct ShowWidgets {
    QWidget* window;               // Form1: its caption and position belong to the show
    QListWidget* showList;         // File1
    QLineEdit* showName;           // Text1
    QPushButton* deleteShowButton; // Command6
};

// Shows a message with only an OK button; returns once acknowledged. Also the type of what
// tells without waiting for anyone (status line and notification): loading a show never
// stops for a box, since a scheduled start may follow it at once.
using ShowMessage = std::function<void(const QString& text)>;

class ShowPanel : public QObject {
    Q_OBJECT

public:
    // `show` outlives the panel; `lists` are the texts the window's lists accept; dataFolder
    // holds configurations/. arguments: the command line after the program's name, taken by
    // the first load only.
    ShowPanel(const ShowWidgets& widgets, CurrentShow& show, ShowListEntries lists,
              ShowMessage showMessage, ShowMessage tell, const QString& dataFolder,
              std::vector<std::string> arguments);

    const std::string& currentShowName() const { return show_.name(); }

    // Writes the current show's file; not for a show whose file could not be read, which
    // only naming it again saves over.
    void saveconfig();
    // Works out the current show name, makes sure its file exists, sets the caption, re-reads
    // the show list and applies the file's last record.
    void loadCurrentShow();
    // Points the list at the current show, or at its last entry when none matches.
    void selectCurrentShowInList();

    // The user's choice in the show list.
    void showChosen();
    // Switches to `name` as choosing it in the list would (a name being typed is dropped);
    // the schedule's way of loading another show.
    void chooseShow(const std::string& name);
    void editShowName();
    // Enter, or focus loss (refused names then cancel quietly instead of asking).
    void commitShowName(bool focusLost = false);
    void cancelNaming();
    void deleteSelectedShow();
    // The last local file decides and is imported as from the command line; the current
    // show is not saved first. A drop that carries no local file (a web link) changes
    // nothing.
    void openDroppedFiles(const QMimeData& data);
    // The same for files named some other way (a later start's command line).
    void openFiles(const std::vector<std::filesystem::path>& files);
    // Whether the window takes this drag: only one that carries a local file.
    static bool carriesFiles(const QMimeData& data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // False when the file could not be written; the user has been told why.
    bool save();
    void refreshShowList();
    void switchTo(const std::string& name);
    // Saves the current show first (unless it never loaded); if that fails the current show
    // stays.
    void saveThenSwitchTo(const std::string& name);
    // Where a list entry keeps the file name's bytes; its text is the readable form.
    static std::string entryName(const QListWidgetItem& item);
    void leaveNaming();
    // Takes what opening a file gave: the show to load and what to tell after it.
    void noteOpened(const OpenedShowFile& opened);

    ShowWidgets widgets_;
    CurrentShow& show_;
    ShowListEntries lists_;
    ShowMessage showMessage_;
    ShowMessage tell_;
    ShowStore store_;
    std::vector<std::string> arguments_;
    bool commandLineTaken_ = false;
    bool listSelectionGuard_ = false;
    bool naming_ = false;
    bool askingAboutName_ = false;
    // The current show's file could not be read: what the controls show is not its settings.
    bool currentUnloaded_ = false;
    // Told after the next load: why the opened file was not imported.
    std::string openNotice_;
    // The file the next load's show was imported from; empty when it was not.
    std::string importedFrom_;
};

} // namespace kelvo
