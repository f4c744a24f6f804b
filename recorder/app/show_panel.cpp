#include "recorder/app/show_panel.h"

#include "recorder/recording/webcast_address.h"
#include "recorder/schedule/zone_clock.h"
#include "recorder/shows/show_drop.h"
#include "recorder/shows/twips.h"

#include <QEvent>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
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

// A show name or a path as the user reads it; the bytes stay in the current show and the list.
QString readable(const std::string& name) {
    return qText(readableShowName(name));
}

} // namespace

ShowPanel::ShowPanel(const ShowWidgets& widgets, CurrentShow& show, ShowListEntries lists,
                     ShowMessage showMessage, ShowMessage tell, const QString& dataFolder,
                     std::vector<std::string> arguments)
    : widgets_(widgets), show_(show), lists_(std::move(lists)),
      showMessage_(std::move(showMessage)), tell_(std::move(tell)), store_(folderPath(dataFolder)),
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
    // The window's place is the one setting no control reports as it changes.
    const QPoint place = widgets_.window->pos();
    show_.setWindowPosition(pixelsToTwips(place.x()), pixelsToTwips(place.y()));
    auto problem = store_.save(show_.name(), show_.file());
    if (!problem) {
        problem = store_.saveSide(show_.name(), show_.settings().side);
    }
    if (problem) {
        showMessage_(qText(*problem));
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
    // Told once the load is complete, never in its middle.
    std::vector<QString> notices;
    const LoadedShow loaded = store_.load(show_.name());
    show_.setName(loaded.showName);
    currentUnloaded_ = !loaded.problem.empty();
    widgets_.window->setWindowTitle(readable(loaded.caption));
    refreshShowList();
    if (currentUnloaded_) {
        notices.push_back(
            QStringLiteral("The show \"%1\" could not be loaded; the settings on screen stay as "
                           "they are, and its file was left untouched: it is saved only if you "
                           "name the show again. %2")
                .arg(readable(loaded.showName), readable(loaded.problem)));
    }
    if (!openNotice_.empty()) {
        notices.push_back(readable(std::exchange(openNotice_, {})));
    }
    if (loaded.record) {
        ShowSettings settings = show_.settings();
        // A coordinate the file lacks keeps the window's own.
        const QPoint place = widgets_.window->pos();
        settings.file.windowLeft = pixelsToTwips(place.x());
        settings.file.windowTop = pixelsToTwips(place.y());
        settings.file = mergedShowRecord(settings.file, *loaded.record, lists_);
        // Kept beside the file, so they are the show's own: none is carried over from the last.
        settings.side = store_.loadSide(show_.name());
        // A show may come from anyone: what is not a network address is not loaded, so
        // neither a start nor a later save carries it on.
        if (const CheckedAddress address = checkWebcastAddress(settings.file.webcastAddress);
            !address.refusal.empty()) {
            notices.push_back(QStringLiteral("Show \"%1\": %2")
                                  .arg(readable(show_.name()), qText(address.refusal)));
            settings.file.webcastAddress.clear();
        }
        // Kept as stored (another system may know it), but never followed unnoticed.
        if (const std::string zone = timeZoneSetting(settings.side);
            !zone.empty() && !knownZone(zone)) {
            notices.push_back(QStringLiteral("Show \"%1\": Unknown time zone: %2; its times are "
                                             "read in the computer's time zone.")
                                  .arg(readable(show_.name()), qText(zone)));
        }
        show_.load(settings);
    }
    if (const std::string from = std::exchange(importedFrom_, {}); !from.empty()) {
        const CheckedAddress address = checkWebcastAddress(show_.settings().file.webcastAddress);
        const QString opens =
            address.openable.empty()
                ? QStringLiteral("it opens no webcast address")
                : QStringLiteral("it opens the webcast address %1").arg(qText(address.openable));
        notices.push_back(QStringLiteral("The show \"%1\" was imported from %2. When it "
                                         "records, %3.")
                              .arg(readable(show_.name()), readable(from), opens));
    }
    for (const QString& notice : notices) {
        tell_(notice);
    }
}

void ShowPanel::noteOpened(const OpenedShowFile& opened) {
    show_.setName(opened.showName);
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
        if (entryName(*list.item(i)) == show_.name()) {
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
    if (name != show_.name()) {
        saveThenSwitchTo(name);
    }
}

void ShowPanel::chooseShow(const std::string& name) {
    cancelNaming();
    if (name != show_.name()) {
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
    show_.setName(name);
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
    c.showName->setText(readable(show_.name()));
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
        box.text() == readable(show_.name()) ? show_.name() : box.text().toStdString();
    const auto refusal = name == show_.name() ? showNameError(name) : newShowNameError(name);
    if (refusal) {
        if (focusLost) {
            // Asking now would take the focus again and ask once more when it comes back.
            cancelNaming();
            return;
        }
        askingAboutName_ = true;
        showMessage_(qText(*refusal));
        askingAboutName_ = false;
        box.setFocus();
        box.setSelection(0, kNameSelection);
        return;
    }
    // From here on the box's focus loss is no second commit.
    naming_ = false;
    const std::string previous = show_.name();
    show_.setName(name);
    if (!save()) {
        show_.setName(previous);
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
    const bool deletedCurrent = name == show_.name();
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
    } else if (first != show_.name()) {
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
    const OpenedShowFile opened = store_.open(*file);
    noteOpened(opened);
    switchTo(opened.showName);
}

bool ShowPanel::carriesFiles(const QMimeData& data) {
    const auto files = droppedFiles(data);
    return files && showFileFromDroppedFiles(*files);
}

} // namespace kelvo
