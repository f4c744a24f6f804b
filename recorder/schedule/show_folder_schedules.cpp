#include "recorder/schedule/show_folder_schedules.h"

#include "recorder/platform/atomic_file.h"
#include "recorder/shows/show_file.h"
#include "recorder/shows/show_store.h"

#include <QFile>
#include <QStringList>

#include <fstream>
#include <iterator>
#include <system_error>

#include <sys/stat.h>

namespace kelvo {

namespace {

namespace fs = std::filesystem;

// A show file is one short line; anything far larger is not one, and is not read whole.
constexpr std::uintmax_t kMaxShowFileBytes = 64 * 1024;

std::optional<std::string> readSmallFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return bytes;
}

QString qPath(const fs::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

} // namespace

std::optional<Schedule> scheduleOfShow(const LoadedShowRecord& record) {
    if (!record.startTime)
        return std::nullopt;
    Schedule schedule;
    schedule.start = *record.startTime;
    schedule.stop = record.stopTime.value_or(TimeOfDay{-1, -1, -1});
    for (std::size_t day = 0; day < schedule.weekdays.size(); ++day)
        schedule.weekdays[day] = record.weekdays[day] == std::int16_t{1};
    return schedule;
}

std::string ShowFolderSchedules::zoneOfShow(const std::string& name) const {
    return timeZoneSetting(ShowStore(folder_.parent_path()).loadSide(name));
}

ShowFolderSchedules::ShowFolderSchedules(fs::path configurationsFolder, QObject* parent)
    : QObject(parent), folder_(std::move(configurationsFolder)),
      watcher_(new QFileSystemWatcher(this)) {
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &ShowFolderSchedules::rescan);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &ShowFolderSchedules::fileChanged);
}

void ShowFolderSchedules::setWatching(bool on) {
    if (on == watching_)
        return;
    watching_ = on;
    if (!on) {
        const QStringList watched = watcher_->files() + watcher_->directories();
        if (!watched.isEmpty())
            watcher_->removePaths(watched);
        files_.clear();
        emit changed();
        return;
    }
    watcher_->addPath(qPath(folder_));
    rescan();
}

std::map<std::string, Schedule> ShowFolderSchedules::schedules() const {
    std::map<std::string, Schedule> result;
    for (const auto& [name, seen] : files_) {
        if (seen.schedule)
            result.emplace(name, *seen.schedule);
    }
    return result;
}

void ShowFolderSchedules::rescan() {
    read({});
}

void ShowFolderSchedules::fileChanged(const QString& path) {
    read(QFile::encodeName(path).toStdString());
}

void ShowFolderSchedules::read(const std::string& forced) {
    if (!watching_)
        return;
    // The folder may have been made after the watch was asked for.
    if (watcher_->directories().isEmpty())
        watcher_->addPath(qPath(folder_));

    std::map<std::string, Seen> files;
    bool differs = false;
    std::error_code error;
    for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        const std::string name = it->path().filename().string();
        // A save in progress is no show; nor is a name the show list cannot load as itself
        // (a double quote), which would record under another show's settings.
        if (name.starts_with(kTemporaryFilePrefix) || showNameError(name))
            continue;
        struct stat info {};
        if (::stat(it->path().c_str(), &info) != 0)
            continue;
        Seen seen;
        seen.identity = {static_cast<unsigned long long>(info.st_dev),
                         static_cast<unsigned long long>(info.st_ino),
                         static_cast<long long>(info.st_size),
                         info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec,
                         info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec};
        const auto before = files_.find(name);
        if (before != files_.end() && before->second.identity == seen.identity &&
            it->path().native() != forced) {
            files.emplace(name, before->second);
            continue;
        }
        if (info.st_size >= 0 && static_cast<std::uintmax_t>(info.st_size) <= kMaxShowFileBytes) {
            if (const auto bytes = readSmallFile(it->path())) {
                const ShowFileContent content = readShowFile(*bytes);
                if (content.record)
                    seen.schedule = scheduleOfShow(*content.record);
                if (seen.schedule)
                    seen.schedule->zone = zoneOfShow(name);
            }
        }
        const bool same = before != files_.end() && before->second.schedule == seen.schedule;
        differs = differs || !same;
        files.emplace(name, seen);
    }
    differs = differs || files.size() != files_.size();
    files_ = std::move(files);

    // A save replaces the file, which ends the watch on the old one: watch what is there now.
    QStringList paths;
    for (const auto& entry : files_)
        paths << qPath(folder_ / entry.first);
    const QStringList watched = watcher_->files();
    if (!watched.isEmpty())
        watcher_->removePaths(watched);
    if (!paths.isEmpty())
        watcher_->addPaths(paths);
    if (differs)
        emit changed();
}

} // namespace kelvo
