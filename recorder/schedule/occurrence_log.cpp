#include "recorder/schedule/occurrence_log.h"

#include "recorder/platform/atomic_file.h"

#include <QByteArray>

#include <fstream>
#include <sstream>

namespace kelvo {

namespace {

constexpr std::time_t kKeptAfterStop = 8 * 86400;

} // namespace

OccurrenceLog::OccurrenceLog(std::filesystem::path file) : file_(std::move(file)) {
    if (file_.empty())
        return;
    std::ifstream in(file_);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string state, date, time, show;
        long long stopAt = 0, leftAt = 0;
        if (!(fields >> state >> stopAt >> leftAt >> date >> time >> show))
            continue;
        if (state != "started" && state != "done")
            continue;
        const Entry entry{state == "done" ? State::Done : State::Started,
                          static_cast<std::time_t>(stopAt), static_cast<std::time_t>(leftAt)};
        entries_[{QByteArray::fromPercentEncoding(QByteArray::fromStdString(show)).toStdString(),
                  date + " " + time}] = entry;
    }
}

std::optional<OccurrenceLog::Entry> OccurrenceLog::find(const std::string& show,
                                                        const std::string& key) const {
    const auto found = entries_.find({show, key});
    if (found == entries_.end())
        return std::nullopt;
    return found->second;
}

void OccurrenceLog::set(const std::string& show, const std::string& key, const Entry& entry,
                        std::time_t now) {
    entries_[{show, key}] = entry;
    save(now);
}

void OccurrenceLog::save(std::time_t now) {
    std::erase_if(entries_,
                  [now](const auto& e) { return e.second.stopAt + kKeptAfterStop < now; });
    if (file_.empty())
        return;
    std::string content;
    for (const auto& [name, entry] : entries_) {
        content += entry.state == State::Done ? "done " : "started ";
        content += std::to_string(entry.stopAt) + " " + std::to_string(entry.leftAt) + " ";
        content += name.second + " ";
        content += QByteArray::fromStdString(name.first).toPercentEncoding().toStdString();
        content += "\n";
    }
    writeError_ = replaceFileAtomically(file_, content).value_or(std::string());
}

} // namespace kelvo
