// One show's settings as a value: the show file's 19 fields and the settings kept beside it.
// The window's controls show a ShowSettings (CurrentShow owns it); a recording keeps a copy
// of the one it started with. Defaults live here and nowhere else: a default-constructed
// ShowSettings is what the window shows at start-up and what a new or empty show file keeps.
#pragma once

#include "recorder/shows/show_record.h"

#include <map>
#include <string>
#include <vector>

namespace kelvo {

// Settings of a show that its file has no field for. The show file's format never changes,
// so these are kept beside it (ShowSideStore), by key. A key this program does not know is
// carried along and written back unchanged, so programs of different ages can share shows.
struct ShowSideSettings {
    std::map<std::string, std::string> values;

    friend bool operator==(const ShowSideSettings&, const ShowSideSettings&) = default;
};

// How a show's webcast address is recorded, kept among the side settings. Off by default, so a
// show from before these settings records as it always did: the address opened in the
// browser, the chosen source recorded.
struct WebcastSettings {
    static constexpr int kMaxOpenEarlySeconds = 300;

    bool recordStream = false; // the engine records the stream itself; no browser, no source
    bool keepStream = false;   // ... and keeps its packets as broadcast beside the WAV
    int openEarlySeconds = 0;  // a page webcast's address is opened this long before its start

    friend bool operator==(const WebcastSettings&, const WebcastSettings&) = default;
};

// The side settings are outside input (a file anyone may edit): a value that is not one of
// ours reads as the default.
WebcastSettings webcastSettings(const ShowSideSettings& side);
// Defaults are left out, so a show that uses none keeps no side file.
void setWebcastSettings(ShowSideSettings& side, const WebcastSettings& webcast);

// The zone a show's times are read in, among the side settings: an IANA name as stored,
// known to this system or not; empty for none, and none is kept for the computer's zone.
std::string timeZoneSetting(const ShowSideSettings& side);
void setTimeZoneSetting(ShowSideSettings& side, const std::string& zone);

struct ShowSettings {
    ShowRecord file; // what the show file holds
    ShowSideSettings side;

    friend bool operator==(const ShowSettings&, const ShowSettings&) = default;
};

// A show as a recording takes it: its name (the show file's name, as bytes on disk), that
// name as the user reads it, and its settings at that moment.
struct ShowSnapshot {
    std::string name;
    std::string readableName;
    ShowSettings settings;
};

// The entries of the window's fixed lists. A stored text that is none of them leaves the
// setting as it was, as the list itself would.
struct ShowListEntries {
    std::vector<std::string> outputFormats, sampleRates, mp3Qualities, channels;
};

// The loader's rule: every field the reader could use replaces the current value; a field it
// could not read, a list text that is not an entry, an input level outside 0 to 100 and a
// weekday value other than 0 or 1 keep what `current` has.
ShowRecord mergedShowRecord(const ShowRecord& current, const LoadedShowRecord& loaded,
                            const ShowListEntries& lists);

} // namespace kelvo
