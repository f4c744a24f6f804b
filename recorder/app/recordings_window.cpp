#include "recorder/app/recordings_window.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QStyle>
#include <QVBoxLayout>

#include <utility>

namespace kelvo {

namespace {

enum Column { kDate, kShow, kLength, kSize, kVerdict };

QString sizeText(qint64 bytes) {
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

} // namespace

RecordingsWindow::RecordingsWindow(QString dataFolder, ProcessLauncher& launcher,
                                   const RecordingController& recording, QWidget* parent)
    : QWidget(parent, Qt::Window), dataFolder_(std::move(dataFolder)), launcher_(launcher),
      recording_(recording), allShows_(new QCheckBox(QStringLiteral("All shows"))),
      list_(new QTreeWidget), play_(new QPushButton(QStringLiteral("Play"))),
      showInFolder_(new QPushButton(QStringLiteral("Show in folder"))),
      trash_(new QPushButton(QStringLiteral("Move to Trash"))), report_(new QPlainTextEdit),
      status_(new QLabel) {
    setObjectName(QStringLiteral("recordingsWindow"));
    allShows_->setObjectName(QStringLiteral("allShows"));
    list_->setObjectName(QStringLiteral("recordingsList"));
    play_->setObjectName(QStringLiteral("play"));
    showInFolder_->setObjectName(QStringLiteral("showInFolder"));
    trash_->setObjectName(QStringLiteral("moveToTrash"));
    report_->setObjectName(QStringLiteral("report"));
    status_->setObjectName(QStringLiteral("recordingsStatus"));
    list_->setHeaderLabels({QStringLiteral("Date"), QStringLiteral("Show"),
                            QStringLiteral("Length"), QStringLiteral("Size"),
                            QStringLiteral("Verdict")});
    list_->setRootIsDecorated(false);
    list_->header()->setStretchLastSection(true);
    report_->setReadOnly(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(allShows_);
    buttons->addStretch();
    buttons->addWidget(play_);
    buttons->addWidget(showInFolder_);
    buttons->addWidget(trash_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 2);
    layout->addLayout(buttons);
    layout->addWidget(report_, 1);
    layout->addWidget(status_);
    resize(720, 480);

    connect(allShows_, &QCheckBox::toggled, this, [this] { refresh(); });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { selectionChanged(); });
    connect(play_, &QPushButton::clicked, this, [this] { play(); });
    connect(showInFolder_, &QPushButton::clicked, this, [this] { showInFolder(); });
    connect(trash_, &QPushButton::clicked, this, [this] { moveToTrash(); });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, [this] { refresh(); });
}

void RecordingsWindow::open(const QString& forShow) {
    show_ = forShow;
    setWindowTitle(QStringLiteral("Recordings"));
    refresh();
    refresh_.start();
    show();
    raise();
    activateWindow();
}

void RecordingsWindow::refresh() {
    if (!isVisible() && refresh_.isActive()) {
        refresh_.stop(); // closed: nothing to follow
        return;
    }
    const QString wanted = allShows_->isChecked() ? QString() : show_;
    // The selection is kept by the recording, which moves down as new ones come.
    const RecordingEntry* before = selected();
    const QString keep = before ? before->reportPath : QString();
    entries_ = listRecordings(dataFolder_, wanted);
    if (const auto running = recording_.reportSoFar();
        running && (wanted.isEmpty() || running->show == wanted)) {
        RecordingEntry entry{reportPathOf(recording_.session()->filePath),
                             recording_.session()->filePath, *running, 0, true};
        entry.bytes = QFileInfo(entry.wavPath).size();
        // Its report of an earlier moment may already be listed: this one is newer.
        std::erase_if(entries_, [&](const auto& e) { return e.reportPath == entry.reportPath; });
        entries_.insert(entries_.begin(), std::move(entry));
    }
    const QSignalBlocker blocker(list_);
    list_->clear();
    QTreeWidgetItem* current = nullptr;
    for (const RecordingEntry& entry : entries_) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(kDate, QLocale().toString(entry.report.startedAt, QLocale::ShortFormat));
        item->setText(kShow, entry.report.show);
        item->setText(kLength, RecordingController::lengthText(entry.report.secondsRecorded));
        item->setText(kSize, sizeText(entry.bytes));
        item->setText(kVerdict, entryVerdict(entry));
        item->setIcon(kVerdict, style()->standardIcon(entry.running ? QStyle::SP_MediaPlay
                                                      : allWell(entry.report)
                                                          ? QStyle::SP_DialogApplyButton
                                                          : QStyle::SP_MessageBoxWarning));
        if (entry.reportPath == keep) {
            current = item;
        }
    }
    list_->setCurrentItem(current ? current : list_->topLevelItem(0));
    selectionChanged();
}

const RecordingEntry* RecordingsWindow::selected() const {
    const int row = list_->indexOfTopLevelItem(list_->currentItem());
    return row >= 0 && row < static_cast<int>(entries_.size()) ? &entries_[row] : nullptr;
}

void RecordingsWindow::selectionChanged() {
    const RecordingEntry* entry = selected();
    play_->setEnabled(entry && QFileInfo::exists(entry->wavPath));
    showInFolder_->setEnabled(entry != nullptr);
    trash_->setEnabled(entry && !entry->running);
    const QString text = entry ? QString::fromUtf8(reportJson(entry->report)) : QString();
    if (report_->toPlainText() != text) {
        report_->setPlainText(text);
    }
}

void RecordingsWindow::play() {
    if (const RecordingEntry* entry = selected()) {
        // An absolute path: never taken for an option of the opener.
        const QString path = QFileInfo(entry->wavPath).absoluteFilePath();
        if (launcher_.start("xdg-open", {QFile::encodeName(path).toStdString()}, {}) < 0) {
            status_->setText(QStringLiteral("%1 could not be played: xdg-open did not start")
                                 .arg(QFileInfo(path).fileName()));
        }
    }
}

void RecordingsWindow::showInFolder() {
    if (const RecordingEntry* entry = selected()) {
        const QString folder = QFileInfo(entry->wavPath).absolutePath();
        if (launcher_.start("xdg-open", {QFile::encodeName(folder).toStdString()}, {}) < 0) {
            status_->setText(
                QStringLiteral("%1 could not be opened: xdg-open did not start").arg(folder));
        }
    }
}

void RecordingsWindow::moveToTrash() {
    const RecordingEntry* entry = selected();
    if (!entry || entry->running) {
        return;
    }
    const QString failure = moveRecordingToTrash(*entry, dataFolder_);
    status_->setText(
        failure.isEmpty()
            ? QStringLiteral("%1 moved to the trash").arg(QFileInfo(entry->wavPath).fileName())
            : failure);
    refresh();
}

} // namespace kelvo
