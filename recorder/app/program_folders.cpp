#include "recorder/app/program_folders.h"

#include "recorder/platform/xdg_registry.h"
#include "recorder/recording/recording_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

namespace {

// Whether the program, as it runs, may create files there. Not permission bits: this also
// knows about read-only mounts; and with the effective identity, as the files are written.
bool writable(const QByteArray& path) {
    return ::faccessat(AT_FDCWD, path.constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Why the folder cannot hold files; empty when it can.
std::optional<QString> folderProblem(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0777) != 0 && errno != EEXIST) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    struct stat info {};
    if (::stat(path.constData(), &info) != 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!S_ISDIR(info.st_mode)) {
        return QStringLiteral("it is a file, not a folder");
    }
    if (!writable(path)) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> dataFolderProblem(const QString& dataFolder) {
    if (dataFolder.isEmpty()) {
        return QStringLiteral("There is no folder for the shows and the recordings.");
    }
    QDir().mkpath(dataFolder);
    const QDir dir(dataFolder);
    QStringList problems;
    const std::pair<const char*, const char*> folders[] = {
        {kConfigurationsFolder, "shows cannot be saved"},
        {kSoundFolder, "nothing can be recorded"}};
    for (const auto& [sub, consequence] : folders) {
        if (const auto why = folderProblem(dir.filePath(QString::fromLatin1(sub)))) {
            problems << QStringLiteral("The folder %1 cannot be used (%2), so %3.")
                            .arg(dir.filePath(QString::fromLatin1(sub)), *why,
                                 QString::fromLatin1(consequence));
        }
    }
    if (problems.isEmpty()) {
        return std::nullopt;
    }
    return problems.join(QLatin1Char('\n'));
}

QString chooseDataFolder(const QString& programFolder, const QString& xdgDataHome,
                         const QString& home) {
    // A packaged install is shared by every user of the machine, even where one of them (root)
    // could write into it.
    const bool shared = QFileInfo::exists(programFolder + QLatin1Char('/') +
                                          QString::fromLatin1(kSharedInstallMarker));
    if (!shared &&
        (!dataFolderProblem(programFolder) || writable(QFile::encodeName(programFolder)))) {
        return programFolder;
    }
    const QString base =
        QDir::isAbsolutePath(xdgDataHome) ? xdgDataHome : home + QStringLiteral("/.local/share");
    const QString fallback = base + QStringLiteral("/KelvoRecorder");
    (void)dataFolderProblem(fallback);
    return fallback;
}

QString homeFolder() {
    return QFile::decodeName(QByteArray::fromStdString(userHomeFolder().string()));
}

} // namespace kelvo
