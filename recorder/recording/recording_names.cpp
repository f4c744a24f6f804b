#include "recorder/recording/recording_names.h"

namespace kelvo {

LocalClock systemClock() {
    return [] { return QDateTime::currentDateTime(); };
}

QString recordingFileName(const QString& showName, const QDateTime& startedAt) {
    const QString show = showName.isEmpty() ? QString(kDefaultShowName) : showName;
    // Numeric fields only, so the stamp does not depend on the locale.
    const QString stamp = startedAt.toString(QStringLiteral("MM-dd-yy-HH-mm-ss"));
    return QStringLiteral("%1/%2-%3.wav").arg(kSoundFolder, show, stamp);
}

QString recordingFilePath(const QString& dataFolder, const QString& fileName) {
    return dataFolder + QLatin1Char('/') + fileName;
}

} // namespace kelvo
