#include "recorder/app/program_folders.h"

#include "recorder/recording/recording_names.h"
#include "recorder/shows/xdg_registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

namespace {

// Why the folder cannot hold files; empty when it can. access() rather than permission bits:
// it also knows about read-only mounts.
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
    if (::access(path.constData(), W_OK | X_OK) != 0) {
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
        {kConfigurationsFolder, "shows cannot be saved"}, {kSoundFolder, "nothing can be recorded"}};
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
    if (!dataFolderProblem(programFolder) ||
        ::access(QFile::encodeName(programFolder).constData(), W_OK | X_OK) == 0) {
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
