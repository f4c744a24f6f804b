#include "recorder/shows/show_drop.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace kelvo {

std::optional<std::vector<std::filesystem::path>> droppedFiles(const QMimeData& data) {
    if (!data.hasUrls())
        return std::nullopt;
    std::vector<std::filesystem::path> files;
    for (const QUrl& url : data.urls())
        files.emplace_back(QFile::encodeName(url.toLocalFile()).toStdString());
    return files;
}

} // namespace kelvo
