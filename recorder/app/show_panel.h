// The show panel: the current show, its loading and saving, the show list (File1), the
// show-name box (Text1) and the delete-show button (Command6), and show files handed over
// on the command line or dropped on the window.
//
// The panel is either listing (File1 shown) or naming (Text1 shown and focused). Selection
// changes the program makes itself run under the list selection guard, so only the user's
// choices switch shows.
//
// Window's thread only, like the controls.
#pragma once

#include "recorder/mixer/recording_sources.h"
#include "recorder/shows/show_apply.h"
#include "recorder/shows/show_store.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QObject>
#include <QPushButton>
#include <QSlider>
#include <QTimeEdit>

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
    QWidget* window;                    // Form1: its caption and position belong to the show
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
    QListWidget* showList;              // File1
    QLineEdit* showName;                // Text1
    QPushButton* deleteShowButton;      // Command6
    std::array<QCheckBox*, 7> weekdays; // Check2 (Sunday) .. Check8 (Saturday)
};

// What the panel needs from the window and the mixer.
struct ShowHooks {
    // A message with only an OK button; returns once acknowledged.
    std::function<void(const QString& text)> showMessage;
    // News that must not wait for anyone (status line and notification): loading a show
    // never stops for a box, since a scheduled start may follow it at once.
    std::function<void(const QString& text)> tell;
    // The enabling rule of the format-dependent lists, run after a load.
    std::function<void()> updateFormatDependentLists;
    // Null until the mixer has started.
    std::function<RecordingSources*()> sources;
};

class ShowPanel : public QObject, private ShowControls {
    Q_OBJECT

public:
    // held outlives the panel; dataFolder holds configurations/. arguments: the command line
    // after the program's name, taken by the first load only.
    ShowPanel(const ShowWidgets& widgets, ShowHooks hooks, HeldMixerSettings& held,
              const QString& dataFolder, std::vector<std::string> arguments);

    const std::string& currentShowName() const { return currentShowName_; }
    bool naming() const { return naming_; }

    // Writes the current show's file from the controls and the held values; not for a show
    // whose file could not be read, which only naming it again saves over.
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
    RecordingSources* mixerSources() const;

    // ShowControls: the loader's way into the window.
    void setStartTime(TimeOfDay time) override;
    void setStopTime(TimeOfDay time) override;
    void setOutputFormat(const std::string& text) override;
    void setMp3Quality(const std::string& text) override;
    void setSampleRate(const std::string& text) override;
    void setChannels(const std::string& text) override;
    void moveWindow(std::optional<std::int32_t> leftTwips,
                    std::optional<std::int32_t> topTwips) override;
    void setWebcastAddress(const std::string& address) override;
    void setInputLevel(std::int32_t level) override;
    void setWmaQuality(const std::string& text) override;
    void setSourceName(const std::string& name) override;
    void setWeekday(int day, bool checked) override;
    void updateFormatDependentLists() override;
    void selectSourceByHeldName() override;

    ShowWidgets widgets_;
    ShowHooks hooks_;
    HeldMixerSettings& held_;
    ShowStore store_;
    std::vector<std::string> arguments_;
    std::string currentShowName_;
    std::string heldWmaQuality_;
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
    // What the running load has to tell, told once it is complete.
    std::vector<QString> loadNotices_;

    // A show's source, level and webcast address go to the mixer together, once the loader
    // has given all three (a field the file lacks keeps what the controls show).
    struct MixerFields {
        std::optional<std::string> sourceName;
        std::optional<int> inputLevel;
        std::optional<std::string> webcastAddress;
    };
    MixerFields loadedMixer_;
};

} // namespace kelvo
