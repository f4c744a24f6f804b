// The verdict on a recording: what it was asked to be, what it became, and the MP3 of each
// part. Written at the end of every recording as NAME.wav.json beside its first part, and
// rewritten as each encoder ends. The report is the recording's own record: the Recordings
// window lists from it, and it outlives the program.
//
// Reports are read back as input: a file that is not JSON, holds the wrong types or is of
// another format version gives no report or a report with the defaults, never a crash.
//
// Threads: the window's thread.
#pragma once

#include "kelvo/kelvo.h"
#include "recorder/recording/recording_session.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace kelvo {

inline constexpr int kReportFormat = 1;
// A report bigger than this is not one of ours; it is not read.
inline constexpr qint64 kMaxReportBytes = 1 << 20;

enum class EncoderState {
    None,         // not an MP3 recording, or a file cut short by a write error
    Waiting,      // for the part before it
    Running,      // started, not ended yet
    StillRunning, // running past the time an encoder should need; left running
    Made,         // ended well and the MP3 is there
    Failed,       // exited with an error, could not start, or made no MP3
};

struct ReportPart {
    QString file; // relative to the data folder, "/" separated
    EncoderState encoder = EncoderState::None;
    std::optional<int> exitCode; // when the encoder ended and its status is known
    QString encoderText;         // what the user was told about it; empty when all went well
};

struct ReportSource {
    QString name;
    QDateTime from, to;
};

struct ReportSilence {
    QDateTime from;
    std::int64_t seconds = 0;
};

struct ReportEvent {
    QDateTime at;
    QString kind; // "source missing", "device lost", ...
    QString text;
};

// A stream title (ICY metadata) and where in the recording it began, as the engine's cue
// sheet beside the WAV holds it.
struct ReportTitle {
    int part = 1;       // the file it began in: 1 for NAME.wav, 2 for NAME-2.wav, ...
    double seconds = 0; // into that file
    QString title;
};

struct RecordingReport {
    QString show;
    QString file; // the first part, relative to the data folder
    QString sourceAsked;
    std::vector<ReportSource> sourcesRecorded;
    RecordingStart startedBy = RecordingStart::ByHand;
    QDateTime startedAt;
    std::int64_t lateSeconds = 0;
    QString lateWhy;
    RecordingEnd endedBy = RecordingEnd::ByHand;
    QString endText; // "stop time", "Stop", "exit", "disk full", ...
    QDateTime endedAt;
    std::int64_t secondsAsked = 0; // 0: by hand, the Stop was what was asked
    std::int64_t secondsRecorded = 0;
    std::uint32_t gaps = 0;
    double filledSeconds = 0;
    double silentSeconds = 0;            // every stretch with nothing above -50 dBFS, however short
    std::vector<ReportSilence> silences; // dead air: stretches of a minute and more
    std::optional<double> peakDbfs;      // none: nothing but digital silence
    std::optional<double> rmsDbfs;
    std::vector<ReportPart> parts;
    std::vector<ReportEvent> events;
    QString stream; // the stream recorded itself; empty for a sound source
    std::vector<ReportTitle> titles;
};

// The titles of the cue sheet at `path` (NAME.cue beside NAME.wav). It is read as input: at
// most kMaxReportBytes, and lines that are not a track's are passed over.
std::vector<ReportTitle> cueSheetTitles(const QString& path);

// Dead air as the verdict counts it: silence of at least this long.
inline constexpr std::int64_t kDeadAirSeconds = 60;

// The report of a recording that has just stopped. `status` is the engine's last, when it
// could tell one.
RecordingReport reportOf(const RecordingSession& session, const std::optional<KelvoStatus>& status);

// "1:00:00, all well", "1:00:00, 4 min silent, 1 gap of 2 s": the length and what went wrong.
QString verdictText(const RecordingReport& report);
// The verdict without the length: "all well", "4 min silent, 1 gap of 2 s".
QString verdictFindings(const RecordingReport& report);
bool allWell(const RecordingReport& report);

QByteArray reportJson(const RecordingReport& report);
std::optional<RecordingReport> reportFromJson(const QByteArray& json);

// NAME.wav.json for the recording at `wavPath`.
QString reportPathOf(const QString& wavPath);
// Empty on success, else why the report could not be written; the old one stays then.
QString writeReport(const QString& path, const RecordingReport& report);
std::optional<RecordingReport> readReport(const QString& path);

} // namespace kelvo
