#include "recorder/app/show_panel.h"

#include "recorder/recording/webcast_address.h"
#include "recorder/schedule/schedule_controls.h"
#include "recorder/shows/show_drop.h"
#include "recorder/shows/window_placement.h"

#include <QEvent>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QTimer>

#include <utility>

namespace kelvo {

namespace {

// The show-name box selects this much of the name when it opens: all of any usual name.
constexpr int kNameSelection = 50;

std::filesystem::path folderPath(const QString& folder) {
    return QFile::encodeName(folder).toStdString();
}

QString qText(const std::string& text) {
    return QString::fromStdString(text);
}

// A show name or a path as the user reads it; the bytes stay in currentShowName_ and the list.
QString readable(const std::string& name) {
    return qText(readableShowName(name));
}

} // namespace

ShowPanel::ShowPanel(const ShowWidgets& widgets, ShowHooks hooks, HeldMixerSettings& held,
                     const QString& dataFolder, std::vector<std::string> arguments)
    : widgets_(widgets), hooks_(std::move(hooks)), held_(held), store_(folderPath(dataFolder)),
      arguments_(std::move(arguments)) {
    const ShowWidgets& c = widgets_;
    // Handled once the click or key press is over, so that loading (which may re-read the
    // list and show a message) never runs inside the list's own event handling.
    connect(c.showList, &QListWidget::currentItemChanged, this, [this] {
        if (!listSelectionGuard_) {
            QTimer::singleShot(0, this, &ShowPanel::showChosen);
        }
    });
    connect(c.deleteShowButton, &QPushButton::clicked, this, &ShowPanel::deleteSelectedShow);
    c.showList->viewport()->installEventFilter(this);
    c.showName->installEventFilter(this);
}

bool ShowPanel::eventFilter(QObject* watched, QEvent* event) {
    const ShowWidgets& c = widgets_;
    if (watched == c.showList->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        editShowName();
        return true;
    }
    if (watched != c.showName) {
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            commitShowName();
            return true;
        }
        if (key == Qt::Key_Escape) {
            cancelNaming();
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        // The box's own context menu takes the focus for a moment; that is not leaving it.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason && naming_ &&
            !askingAboutName_) {
            commitShowName(true);
        }
    }
    return false;
}

void ShowPanel::saveconfig() {
    if (!currentUnloaded_) {
        save();
    }
}

bool ShowPanel::save() {
    if (RecordingSources* sources = mixerSources()) {
        sources->rememberMixerSettings();
    }
    const ShowWidgets& c = widgets_;
    const HeldMixerSettings& held = held_;
    ShowRecord record;
    record.startTime = timeOfDay(c.startTime->time());
    record.stopTime = timeOfDay(c.stopTime->time());
    record.outputFormat = c.outputFormat->currentText().toStdString();
    record.sampleRate = c.sampleRate->currentText().toStdString();
    record.mp3Quality = c.mp3Quality->currentText().toStdString();
    record.channels = c.channels->currentText().toStdString();
    record.windowLeft = pixelsToTwips(widgets_.window->pos().x());
    record.windowTop = pixelsToTwips(widgets_.window->pos().y());
    record.sourceName = mixerSources() ? mixerSources()->selectedSourceName() : held.sourceName;
    record.inputLevel = held.inputLevel;
    record.webcastAddress = held.webcastAddress;
    record.wmaQuality = heldWmaQuality_;
    for (int day = 0; day < kWeekdays; ++day) {
        record.weekdays[static_cast<std::size_t>(day)] =
            c.weekdays[static_cast<std::size_t>(day)]->isChecked() ? 1 : 0;
    }
    if (auto problem = store_.save(currentShowName_, record)) {
        hooks_.showMessage(qText(*problem));
        return false;
    }
    return true;
}

void ShowPanel::loadCurrentShow() {
    if (!commandLineTaken_) {
        commandLineTaken_ = true;
        if (auto file = showFileFromCommandLine(arguments_)) {
            noteOpened(store_.open(*file));
        }
    }
    loadNotices_.clear();
    const LoadedShow loaded = store_.load(currentShowName_);
    currentShowName_ = loaded.showName;
    currentUnloaded_ = !loaded.problem.empty();
    widgets_.window->setWindowTitle(readable(loaded.caption));
    refreshShowList();
    if (currentUnloaded_) {
        loadNotices_.push_back(
            QStringLiteral("The show \"%1\" could not be loaded; the settings on screen stay as "
                           "they are, and its file was left untouched: it is saved only if you "
                           "name the show again. %2")
                .arg(readable(loaded.showName), readable(loaded.problem)));
    }
    if (!openNotice_.empty()) {
        loadNotices_.push_back(readable(std::exchange(openNotice_, {})));
    }
    if (loaded.record) {
        loadedMixer_ = {};
        applyShowRecord(*loaded.record, *this);
    }
    if (const std::string from = std::exchange(importedFrom_, {}); !from.empty()) {
        const CheckedAddress address =
            checkWebcastAddress(widgets_.webcastAddress->text().toStdString());
        const QString opens =
            address.openable.empty()
                ? QStringLiteral("it opens no webcast address")
                : QStringLiteral("it opens the webcast address %1").arg(qText(address.openable));
        loadNotices_.push_back(QStringLiteral("The show \"%1\" was imported from %2. When it "
                                              "records, %3.")
                                   .arg(readable(currentShowName_), readable(from), opens));
    }
    for (const QString& notice : std::exchange(loadNotices_, {})) {
        hooks_.tell(notice);
    }
}

void ShowPanel::noteOpened(const OpenedShowFile& opened) {
    currentShowName_ = opened.showName;
    openNotice_ = opened.notice;
    importedFrom_ = opened.importedFrom;
}

void ShowPanel::refreshShowList() {
    const std::vector<std::string> names = store_.list();
    QListWidget& list = *widgets_.showList;
    std::vector<std::string> shown;
    for (int row = 0; row < list.count(); ++row) {
        shown.push_back(entryName(*list.item(row)));
    }
    if (names == shown) {
        return; // keeps the selection where it is
    }
    listSelectionGuard_ = true;
    list.clear();
    for (const std::string& name : names) {
        auto* item = new QListWidgetItem(readable(name), &list);
        item->setData(Qt::UserRole, QByteArray::fromStdString(name));
    }
    listSelectionGuard_ = false;
}

std::string ShowPanel::entryName(const QListWidgetItem& item) {
    return item.data(Qt::UserRole).toByteArray().toStdString();
}

void ShowPanel::selectCurrentShowInList() {
    QListWidget& list = *widgets_.showList;
    int row = list.count() - 1; // no match leaves the list on its last entry
    for (int i = 0; i < list.count(); ++i) {
        if (entryName(*list.item(i)) == currentShowName_) {
            row = i;
            break;
        }
    }
    listSelectionGuard_ = true;
    list.setCurrentRow(row);
    listSelectionGuard_ = false;
}

void ShowPanel::showChosen() {
    const QListWidgetItem* item = widgets_.showList->currentItem();
    if (listSelectionGuard_ || naming_ || !item) {
        return;
    }
    const std::string name = entryName(*item);
    if (name != currentShowName_) {
        saveThenSwitchTo(name);
    }
}

void ShowPanel::chooseShow(const std::string& name) {
    cancelNaming();
    if (name != currentShowName_) {
        saveThenSwitchTo(name);
    }
}

void ShowPanel::saveThenSwitchTo(const std::string& name) {
    if (!currentUnloaded_ && !save()) {
        // Loading the other show now would throw away the settings that were not saved.
        selectCurrentShowInList();
        return;
    }
    switchTo(name);
}

void ShowPanel::switchTo(const std::string& name) {
    currentShowName_ = name;
    loadCurrentShow();
    selectCurrentShowInList();
}

void ShowPanel::editShowName() {
    if (naming_) {
        return;
    }
    const ShowWidgets& c = widgets_;
    naming_ = true;
    c.showList->hide();
    c.showName->setText(readable(currentShowName_));
    c.showName->show();
    c.showName->setFocus();
    c.showName->setSelection(0, kNameSelection);
}

void ShowPanel::commitShowName(bool focusLost) {
    if (!naming_) {
        return;
    }
    QLineEdit& box = *widgets_.showName;
    // The name left as shown keeps its bytes on disk, even when they are not UTF-8.
    const std::string name =
        box.text() == readable(currentShowName_) ? currentShowName_ : box.text().toStdString();
    const auto refusal = name == currentShowName_ ? showNameError(name) : newShowNameError(name);
    if (refusal) {
        if (focusLost) {
            // Asking now would take the focus again and ask once more when it comes back.
            cancelNaming();
            return;
        }
        askingAboutName_ = true;
        hooks_.showMessage(qText(*refusal));
        askingAboutName_ = false;
        box.setFocus();
        box.setSelection(0, kNameSelection);
        return;
    }
    // From here on the box's focus loss is no second commit.
    naming_ = false;
    const std::string previous = currentShowName_;
    currentShowName_ = name;
    if (!save()) {
        currentShowName_ = previous;
    } else {
        loadCurrentShow();
    }
    leaveNaming();
}

void ShowPanel::cancelNaming() {
    if (!naming_) {
        return;
    }
    naming_ = false;
    leaveNaming();
}

void ShowPanel::leaveNaming() {
    const ShowWidgets& c = widgets_;
    c.showList->show();
    c.showName->hide();
    selectCurrentShowInList();
}

void ShowPanel::deleteSelectedShow() {
    const QListWidgetItem* item = widgets_.showList->currentItem();
    const std::string name = item ? entryName(*item) : std::string();
    if (name.empty()) {
        return;
    }
    store_.remove(name);
    const bool deletedCurrent = name == currentShowName_;
    refreshShowList();
    QListWidget& list = *widgets_.showList;
    listSelectionGuard_ = true;
    list.setCurrentRow(list.count() > 0 ? 0 : -1);
    listSelectionGuard_ = false;

    // The first remaining show is chosen as the user would, except that the deleted show is
    // not saved again. None left: the current name becomes empty, which loads "Default".
    const std::string first = list.count() > 0 ? entryName(*list.item(0)) : "";
    if (deletedCurrent) {
        switchTo(first);
    } else if (first != currentShowName_) {
        saveThenSwitchTo(first);
    }
}

void ShowPanel::openDroppedFiles(const QMimeData& data) {
    if (const auto files = droppedFiles(data)) {
        openFiles(*files);
    }
}

void ShowPanel::openFiles(const std::vector<std::filesystem::path>& files) {
    const auto file = showFileFromDroppedFiles(files);
    if (!file) {
        return;
    }
    cancelNaming();
    noteOpened(store_.open(*file));
    switchTo(currentShowName_);
}

bool ShowPanel::carriesFiles(const QMimeData& data) {
    const auto files = droppedFiles(data);
    return files && showFileFromDroppedFiles(*files);
}

void ShowPanel::setStartTime(TimeOfDay time) {
    widgets_.startTime->setTime(QTime(time.hour, time.minute, time.second));
}

void ShowPanel::setStopTime(TimeOfDay time) {
    widgets_.stopTime->setTime(QTime(time.hour, time.minute, time.second));
}

// The format rule waits until the loader has set both lists and then runs once: run between
// them, it would turn a stored MP3 show back into WAV whenever the show before it had a
// sample rate too low for MP3.
void ShowPanel::setOutputFormat(const std::string& text) {
    const QSignalBlocker ruleWaits(widgets_.outputFormat);
    setListTextIfEntry(*widgets_.outputFormat, qText(text));
}

void ShowPanel::setMp3Quality(const std::string& text) {
    setListTextIfEntry(*widgets_.mp3Quality, qText(text));
}

void ShowPanel::setSampleRate(const std::string& text) {
    const QSignalBlocker ruleWaits(widgets_.sampleRate);
    setListTextIfEntry(*widgets_.sampleRate, qText(text));
}

void ShowPanel::setChannels(const std::string& text) {
    setListTextIfEntry(*widgets_.channels, qText(text));
}

void ShowPanel::moveWindow(std::optional<std::int32_t> leftTwips,
                           std::optional<std::int32_t> topTwips) {
    QPoint place = widgets_.window->pos();
    if (leftTwips) {
        place.setX(twipsToPixels(*leftTwips));
    }
    if (topTwips) {
        place.setY(twipsToPixels(*topTwips));
    }
    widgets_.window->move(reachableWindowPosition(place, widgets_.window->frameGeometry().size()));
}

void ShowPanel::setWebcastAddress(const std::string& address) {
    loadedMixer_.webcastAddress = address;
}

void ShowPanel::setInputLevel(std::int32_t level) {
    loadedMixer_.inputLevel = level;
}

void ShowPanel::setWmaQuality(const std::string& text) {
    heldWmaQuality_ = text;
    widgets_.wmaQuality->setEditText(qText(text));
}

void ShowPanel::setSourceName(const std::string& name) {
    loadedMixer_.sourceName = name;
}

void ShowPanel::setWeekday(int day, bool checked) {
    widgets_.weekdays[static_cast<std::size_t>(day)]->setChecked(checked);
}

void ShowPanel::updateFormatDependentLists() {
    hooks_.updateFormatDependentLists();
}

void ShowPanel::selectSourceByHeldName() {
    RecordingSources* sources = mixerSources();
    if (!sources) {
        return;
    }
    const ShowWidgets& c = widgets_;
    const MixerFields fields = std::exchange(loadedMixer_, {});
    std::string address = fields.webcastAddress.value_or(c.webcastAddress->text().toStdString());
    // A show may come from anyone: what is not a network address never reaches the box, so
    // neither this start nor a later save carries it on.
    if (const CheckedAddress checked = checkWebcastAddress(address); !checked.refusal.empty()) {
        loadNotices_.push_back(QStringLiteral("Show \"%1\": %2")
                                   .arg(readable(currentShowName_), qText(checked.refusal)));
        address.clear();
    }
    sources->loadSettings(fields.sourceName.value_or(c.sourceList->currentText().toStdString()),
                          fields.inputLevel.value_or(c.inputLevel->value()), address);
}

RecordingSources* ShowPanel::mixerSources() const {
    return hooks_.sources ? hooks_.sources() : nullptr;
}

} // namespace kelvo
