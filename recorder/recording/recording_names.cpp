#include "recorder/recording/recording_names.h"
#include "recorder/shows/show_record.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kelvo {

namespace {

const QString kWav = QStringLiteral(".wav");
constexpr int kMaxTries = 1000;

// The longest start of `text` whose UTF-8 form has at most `bytes` bytes; never splits a
// character (nor a surrogate pair).
QString cutToBytes(const QString& text, int bytes) {
    QString cut = text;
    while (!cut.isEmpty() && QFile::encodeName(cut).size() > bytes) {
        cut.chop(cut.size() >= 2 && cut.at(cut.size() - 1).isLowSurrogate() ? 2 : 1);
    }
    return cut;
}

QString withSuffix(const QString& fileName, int number) {
    if (number <= 1) {
        return fileName;
    }
    const QString base = fileName.endsWith(kWav) ? fileName.chopped(kWav.size()) : fileName;
    return base + QLatin1Char('-') + QString::number(number) + kWav;
}

} // namespace

LocalClock systemClock() {
    return [] { return QDateTime::currentDateTime(); };
}

QString recordingFileName(const QString& showName, const QDateTime& startedAt) {
    QString show = showName.isEmpty() ? QString(kDefaultShowName) : showName;
    // Numeric fields only, so the stamp does not depend on the locale.
    const QString tail =
        QLatin1Char('-') + startedAt.toString(QStringLiteral("MM-dd-yy-HH-mm-ss")) + kWav;
    const int room = kMaxRecordingNameBytes - kSuffixRoomBytes - static_cast<int>(tail.size());
    show = cutToBytes(show, room);
    return QStringLiteral("%1/%2%3").arg(kSoundFolder, show, tail);
}

QString recordingFilePath(const QString& dataFolder, const QString& fileName) {
    return dataFolder + QLatin1Char('/') + fileName;
}

QString recordingPartName(const QString& fileName, int part) {
    return withSuffix(fileName, part);
}

int claimRecordingFile(const QString& dataFolder, QString& fileName) {
    for (int number = 1; number <= kMaxTries; ++number) {
        const QString candidate = withSuffix(fileName, number);
        const QByteArray path = QFile::encodeName(recordingFilePath(dataFolder, candidate));
        const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            close(fd);
            fileName = candidate;
            return 0;
        }
        if (errno != EEXIST) {
            return errno;
        }
    }
    return EEXIST;
}

} // namespace kelvo
