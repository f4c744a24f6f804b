// The occurrences the schedule has recorded, kept on disk so that a restart of the program
// remembers them: a clock set back never records an occurrence again, and a restart in the
// middle of a show continues its recording in a new part instead of counting it as new.
//
// One line per occurrence, replaced atomically on each change:
//   started|done STOP_AT LEFT_AT DATE TIME SHOW
// STOP_AT and LEFT_AT in seconds since the epoch (LEFT_AT 0: the program did not say when it
// left), DATE and TIME in the show's zone, SHOW percent-encoded. Lines a week past their stop
// are dropped. A file that cannot be read or written leaves the log in memory: the program
// records as before, only a restart forgets.
//
// Threads: the window's thread.
#pragma once

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace kelvo {

class OccurrenceLog {
public:
    enum class State { Started, Done };
    struct Entry {
        State state = State::Started;
        std::time_t stopAt = 0;
        std::time_t leftAt = 0; // when a program recording it went away; 0: not known
    };

    // An empty path keeps the log in memory only.
    explicit OccurrenceLog(std::filesystem::path file = {});

    std::optional<Entry> find(const std::string& show, const std::string& key) const;
    void set(const std::string& show, const std::string& key, const Entry& entry, std::time_t now);
    // Why the file could not be written the last time, else empty.
    const std::string& writeError() const { return writeError_; }

private:
    void save(std::time_t now);

    std::filesystem::path file_;
    std::map<std::pair<std::string, std::string>, Entry> entries_;
    std::string writeError_;
};

} // namespace kelvo
