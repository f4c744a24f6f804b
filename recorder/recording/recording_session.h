// One recording, from its start to its end: what it started with and what has become of it.
// Everything told about a recording (notifications, the status line, the sleep hold) asks its
// session, never the show the window holds now, which the user may have changed meanwhile.
//
// Threads: the window's thread, like the controller that keeps it.
#pragma once

#include "recorder/shows/show_settings.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo {

enum class RecordingStart { ByHand, BySchedule };

// A scheduled start that came after its time: how much of the show was lost and why.
struct LateStart {
    std::int64_t seconds = 0; // of the occurrence gone before the start (or since the last part)
    // Told instead of "Recording SHOW" when a minute or more was lost: "Recording SHOW started
    // 5 min late: KelvoRecorder was not running at 18:00". Empty otherwise.
    QString notice;
    bool continued = false; // a new part of an occurrence a previous run of the program began
};

// How a recording came to its end, as its report names it.
enum class RecordingEnd {
    ByHand,     // the Stop button
    StopTime,   // the schedule's stop time
    Exit,       // the program ended (the window closed, a signal)
    WriteError, // the engine could not write on: writeError says why
};

enum class RecordingStatus {
    Recording,
    Paused,
    Ended,       // stopped: by Stop, the schedule or the window closing
    WriteFailed, // the engine could not write; the file holds what came before
};

// What happened to a recording while it ran, as its supervisor told the user.
enum class RecordingEventKind {
    StartedLate,   // a start that failed for want of the device was retried until it took
    SourceMissing, // the show's source was not there: silence recorded meanwhile
    SourceBack,    // ... and appeared; the recording goes on from it
    DeviceLost,    // the sound device or server went away: silence recorded meanwhile
    DeviceBack,    // ... and came back, or a gap was filled
    Silent,        // dead air: nothing above about -50 dBFS for `seconds`
    SoundBack,     // ... and sound again
    FileGone,      // the recording's file was deleted or its folder removed
    FileBack,      // ... and was written back when the recording stopped
};

struct RecordingEvent {
    QDateTime at;
    RecordingEventKind kind = RecordingEventKind::SourceMissing;
    QString text;             // what the user was told: the notification's summary and body
    std::int64_t seconds = 0; // a gap's or a silence's length, how late a start was; else 0
};

struct RecordingSession {
    ShowSnapshot show; // the show as it stood at the start
    RecordingStart startedBy = RecordingStart::ByHand;
    QDateTime startedAt;
    LateStart late; // a scheduled start only
    // Taken from the show's settings at the start; later changes apply to the next start.
    int sampleRate = 0;
    int channels = 0;
    QString outputFormat;
    QString mp3Quality;
    QString webcastAddress; // opened through the shell when the recording started
    // The stream the engine records itself, with no browser and no sound source; empty when
    // the recording is of the show's source.
    QString streamAddress;
    // A show set to record its stream that records its source instead says why: "... is not
    // an audio stream". Empty otherwise.
    QString streamNotRecorded;
    QString fileName; // relative to the data folder, "/" separated
    QString filePath;
    RecordingStatus status = RecordingStatus::Recording;
    int writeError = 0; // with WriteFailed: the errno the engine reported
    int parts = 1;      // files the engine split the recording into
    // Scheduled: the occurrence's length from its start to its stop, the late part included;
    // 0 by hand, where the Stop is what was asked for.
    std::int64_t secondsAsked = 0;
    QString sourceRecorded; // the source's name as the list showed it at the start
    RecordingEnd endedBy = RecordingEnd::ByHand;
    QDateTime endedAt;

    // What the recording has met so far, in the order it happened.
    std::vector<RecordingEvent> events;
    std::int64_t lateSeconds = 0; // the time a start retried for want of the device lost
    bool lowSpaceWarned = false;
    QString note; // shown in brackets after the source on the status line

    bool running() const {
        return status == RecordingStatus::Recording || status == RecordingStatus::Paused;
    }
    // The source the show asked for, which is what is recorded: never another one.
    QString sourceName() const { return QString::fromStdString(show.settings.file.sourceName); }
    // What is recorded, as the status line and the notices name it: the stream or the source.
    QString recordedName() const { return streamAddress.isEmpty() ? sourceName() : streamAddress; }
    // The show as the user reads it in what is told about the recording.
    QString showName() const {
        return show.readableName.empty() ? QStringLiteral("Default")
                                         : QString::fromStdString(show.readableName);
    }
};

} // namespace kelvo
