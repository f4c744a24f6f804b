#include "recorder/recording/recordings_list.h"

#include "recorder/recording/recording_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace kelvo {

namespace {

QStringList filesOf(const RecordingEntry& entry, const QString& dataFolder) {
    QStringList files;
    for (const ReportPart& part : entry.report.parts) {
        // A part's name comes from the report, which is input: only names inside the sound
        // folder are taken.
        const QString name = QFileInfo(part.file).fileName();
        if (name.isEmpty() || !name.endsWith(QLatin1String(".wav"))) {
            continue;
        }
        const QString wav =
            QDir(dataFolder).filePath(QString::fromLatin1(kSoundFolder) + QLatin1Char('/') + name);
        files << wav << wav + QStringLiteral(".mp3");
    }
    return files;
}

} // namespace

std::vector<RecordingEntry> listRecordings(const QString& dataFolder, const QString& show) {
    std::vector<RecordingEntry> entries;
    const QDir folder(QDir(dataFolder).filePath(QString::fromLatin1(kSoundFolder)));
    const QStringList reports =
        folder.entryList({QStringLiteral("*.wav.json")}, QDir::Files | QDir::Hidden);
    for (const QString& name : reports) {
        RecordingEntry entry;
        entry.reportPath = folder.filePath(name);
        std::optional<RecordingReport> report = readReport(entry.reportPath);
        if (!report || (!show.isEmpty() && report->show != show)) {
            continue;
        }
        entry.report = std::move(*report);
        entry.wavPath = entry.reportPath.chopped(5);
        if (!entry.report.startedAt.isValid()) {
            entry.report.startedAt = QFileInfo(entry.reportPath).lastModified();
        }
        for (const QString& file : filesOf(entry, dataFolder)) {
            entry.bytes += QFileInfo(file).size();
        }
        entries.push_back(std::move(entry));
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.report.startedAt > b.report.startedAt;
    });
    return entries;
}

QString entryVerdict(const RecordingEntry& entry) {
    if (entry.running) {
        return QStringLiteral("recording: %1 so far").arg(verdictFindings(entry.report));
    }
    return verdictFindings(entry.report);
}

QString moveRecordingToTrash(const RecordingEntry& entry, const QString& dataFolder) {
    // Qt makes the trash folder inside the user's data folder but not that folder itself;
    // without it the "trashed" files would land in the current folder.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QStringList failed;
    QStringList files = filesOf(entry, dataFolder);
    files << entry.reportPath;
    for (const QString& file : files) {
        if (QFileInfo::exists(file) && !QFile::moveToTrash(file)) {
            failed << QFileInfo(file).fileName();
        }
    }
    return failed.isEmpty() ? QString()
                            : QStringLiteral("Not moved to the trash: %1")
                                  .arg(failed.join(QStringLiteral(", ")));
}

} // namespace kelvo
