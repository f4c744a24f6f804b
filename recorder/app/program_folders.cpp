#include "recorder/app/program_folders.h"

#include "recorder/recording/recording_names.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace kelvo {

namespace {

bool writable(const QString& folder) {
    // access() rather than permission bits: it also knows about read-only mounts.
    return access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

} // namespace

bool ensureDataFolders(const QString& dataFolder) {
    if (dataFolder.isEmpty()) {
        return false;
    }
    const QDir dir(dataFolder);
    for (const char* sub : {kConfigurationsFolder, kSoundFolder}) {
        if (!dir.mkpath(QString::fromLatin1(sub)) || !writable(dir.filePath(sub))) {
            return false;
        }
    }
    return true;
}

QString chooseDataFolder(const QString& programFolder, const QString& xdgDataHome,
                         const QString& home) {
    if (ensureDataFolders(programFolder)) {
        return programFolder;
    }
    const QString base =
        QDir::isAbsolutePath(xdgDataHome) ? xdgDataHome : home + QStringLiteral("/.local/share");
    const QString fallback = base + QStringLiteral("/KelvoRecorder");
    ensureDataFolders(fallback);
    return fallback;
}

} // namespace kelvo
