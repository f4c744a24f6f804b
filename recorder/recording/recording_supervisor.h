// Watches one recording against what its show asked for. Every look (once a second, from the
// controller's status poll) compares the engine's status and the recording's file with what
// the session started with; each deviation is told once when it begins and once when it ends,
// and both are kept on the session as events, so the recording's report can name them:
//
//   - the sound device (or the stream) is lost and comes back (the engine fills the time
//     with silence);
//   - the recording's file deleted or its folder removed: the engine puts it back at the stop;
//   - dead air: nothing above about -50 dBFS for a minute (the engine counts it), or for the
//     first 30 s of a webcast, whose page may never have started playing.
//
// Threads: the window's thread, like the controller that owns it.
#pragma once

#include "kelvo/kelvo.h"
#include "recorder/recording/recording_session.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <sys/types.h>
#include <vector>

namespace kelvo {

class RecordingSupervisor {
public:
    struct Notice {
        QString summary;
        QString body;
        RecordingEventKind kind = RecordingEventKind::DeviceLost;
    };

    // Starts watching the session's recording, which has just started.
    explicit RecordingSupervisor(RecordingSession& session);

    // One look at the recording; returns what is to be told now. `now` stamps the events.
    std::vector<Notice> look(const KelvoStatus& status, const QDateTime& now);
    // The recording stopped (`status` is the engine's last); tells whether a file that was
    // gone is back.
    std::vector<Notice> stopped(const KelvoStatus& status, const QDateTime& now);

    // What the status line adds in brackets after the source; empty when all is well.
    const QString& note() const { return note_; }
    // The device is away: the controller looks more often then.
    bool away() const { return away_ != Away::No; }

private:
    enum class Away { No, DeviceLost, SourceMissing };

    void lookAtDevice(const KelvoStatus& status, const QDateTime& now,
                      std::vector<Notice>& notices);
    void lookAtFile(const KelvoStatus& status, const QDateTime& now, std::vector<Notice>& notices);
    void lookAtSilence(const KelvoStatus& status, const QDateTime& now,
                       std::vector<Notice>& notices);
    void tell(RecordingEventKind kind, const QDateTime& now, Notice notice,
              std::vector<Notice>& notices, std::int64_t seconds = 0);
    QString currentPartPath() const;
    QString lostThing() const;

    RecordingSession& session_;
    Away away_ = Away::No;
    std::uint32_t gapsSeen_ = 0;
    // The current part's file as it was when first seen: a different one, or none, at the
    // path means the recording's own file has lost its name.
    int partSeen_ = 0;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool fileGone_ = false;
    // Seconds of the stretch of dead air told, while it lasts; 0 when none is.
    std::int64_t silenceTold_ = 0;
    QString fileNote_;
    QString note_;
};

} // namespace kelvo
