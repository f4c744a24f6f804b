#include "recorder/app/next_start_command.h"

#include "recorder/app/program_folders.h"
#include "recorder/schedule/scheduler.h"
#include "recorder/schedule/show_folder_schedules.h"
#include "recorder/shows/show_store.h"

#include <QDir>
#include <QFile>

#include <ctime>

namespace kelvo {

int printNextStart(const QString& dataFolder, bool everyShow, std::FILE* out, std::FILE* err) {
    const std::string configurations =
        QFile::encodeName(QDir(dataFolder).filePath(kConfigurationsFolder)).toStdString();
    ShowFolderSchedules folder(configurations);
    folder.setWatching(true);
    std::map<std::string, Schedule> schedules = folder.schedules();
    const std::string start = "Default";
    if (!schedules.contains(start)) {
        // What the window shows for a show whose file holds no schedule.
        Schedule defaults;
        defaults.zone =
            timeZoneSetting(ShowStore(QFile::encodeName(dataFolder).toStdString()).loadSide(start));
        schedules.emplace(start, defaults);
    }
    std::vector<std::pair<std::string, Schedule>> shows{{start, schedules.at(start)}};
    if (everyShow) {
        for (const auto& [name, schedule] : schedules) {
            if (name != start)
                shows.emplace_back(name, schedule);
        }
    }
    const std::time_t now = std::time(nullptr);
    const auto next = nextStart(now, shows);
    if (!next) {
        std::fprintf(err, "KelvoRecorder: no show is scheduled to start within a week\n");
        return 1;
    }
    std::tm local{};
    localtime_r(&next->at, &local);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(out, "%lld %s %s\n", static_cast<long long>(next->at), when,
                 shownShowName(next->show).c_str());
    return 0;
}

} // namespace kelvo
