// The schedules stored in the show files of the configurations folder, kept up to date from
// the file system rather than re-read each second: the folder and its files are watched.
// A file reported changed is read again; a change of the folder (a save, which renames a new
// file over the old one, a new or deleted file) reads only the files whose identity, size or
// times changed. File times alone would miss a same-size save within one kernel tick.
//
// Threads: the window's thread (the watcher delivers its signals there).
#pragma once

#include "recorder/schedule/schedule.h"
#include "recorder/shows/show_record.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace kelvo {

// A show file's schedule. Empty when the file holds no complete record or no usable start
// time: a show is never recorded on times it does not state. A weekday counts only when its
// field is 1; a stop time that cannot be read matches no second.
std::optional<Schedule> scheduleOfShow(const LoadedShowRecord& record);

class ShowFolderSchedules : public QObject {
    Q_OBJECT
public:
    explicit ShowFolderSchedules(std::filesystem::path configurationsFolder,
                                 QObject* parent = nullptr);

    // Starts or stops watching. Stopped, the schedules are empty and nothing is read.
    void setWatching(bool on);
    bool watching() const { return watching_; }

    // Every show with a usable schedule, by show name (its file name).
    std::map<std::string, Schedule> schedules() const;

    // Re-reads what changed since the last read; normally the watcher calls it.
    void rescan();
    // Re-reads `path` whatever its times say, then whatever else changed.
    void fileChanged(const QString& path);

signals:
    void changed();

private:
    struct Identity {
        unsigned long long device = 0, inode = 0;
        long long size = 0, modified = 0, changed = 0; // times in nanoseconds
        bool operator==(const Identity&) const = default;
    };
    struct Seen {
        Identity identity;
        std::optional<Schedule> schedule;
    };
    void read(const std::string& forced);
    // The zone kept beside the show file; empty: the system's. Read with the show file, which
    // every save of the show rewrites.
    std::string zoneOfShow(const std::string& name) const;

    std::filesystem::path folder_;
    QFileSystemWatcher* watcher_;
    std::map<std::string, Seen> files_;
    bool watching_ = false;
};

} // namespace kelvo
