// The recordings in the sound folder, as their reports tell them: what the Recordings window
// lists. A report whose WAV is gone is still listed (its MP3 may be there); one that cannot
// be read is left out.
//
// Threads: the window's thread.
#pragma once

#include "recorder/recording/recording_report.h"

#include <QString>

#include <vector>

namespace kelvo {

struct RecordingEntry {
    QString reportPath;
    QString wavPath; // the first part
    RecordingReport report;
    qint64 bytes = 0;     // of every part (WAV and MP3) still there
    bool running = false; // the recording under way, its report made up to now
};

// Newest first; `show` empty: every show's.
std::vector<RecordingEntry> listRecordings(const QString& dataFolder, const QString& show);

// What the list shows for a recording's verdict: "all well", "recording: all well so far", ...
QString entryVerdict(const RecordingEntry& entry);

// Moves the recording's parts, their MP3s and its report to the desktop's trash. Empty on
// success, else what was not moved and why.
QString moveRecordingToTrash(const RecordingEntry& entry, const QString& dataFolder);

} // namespace kelvo
