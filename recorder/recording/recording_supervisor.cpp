#include "recorder/recording/recording_supervisor.h"

#include "recorder/recording/recording_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <utility>

namespace kelvo {

namespace {

QString gapText(std::uint64_t frames, int sampleRate) {
    const double seconds = sampleRate > 0 ? static_cast<double>(frames) / sampleRate : 0.0;
    return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
}

} // namespace

RecordingSupervisor::RecordingSupervisor(RecordingSession& session) : session_(session) {}

void RecordingSupervisor::tell(RecordingEventKind kind, const QDateTime& now, Notice notice,
                               std::vector<Notice>& notices, std::int64_t seconds) {
    notice.kind = kind;
    session_.events.push_back(
        RecordingEvent{now, kind,
                       notice.body.isEmpty() ? notice.summary
                                             : notice.summary + QStringLiteral(": ") + notice.body,
                       seconds});
    notices.push_back(std::move(notice));
}

std::vector<RecordingSupervisor::Notice> RecordingSupervisor::look(const KelvoStatus& status,
                                                                   const QDateTime& now) {
    std::vector<Notice> notices;
    lookAtDevice(status, now, notices);
    lookAtFile(status, now, notices);
    lookAtSilence(status, now, notices);
    // The most pressing first: a missing file outweighs a device, which outweighs a gap.
    if (!fileNote_.isEmpty()) {
        note_ = fileNote_;
    }
    return notices;
}

void RecordingSupervisor::lookAtDevice(const KelvoStatus& status, const QDateTime& now,
                                       std::vector<Notice>& notices) {
    const QString show = session_.showName();
    if (status.deviceState == KELVO_DEVICE_RECONNECTING ||
        (status.deviceState == KELVO_DEVICE_SOURCE_MISSING && session_.sourceName().isEmpty())) {
        note_ = status.deviceState == KELVO_DEVICE_SOURCE_MISSING ? QStringLiteral("not there")
                                                                  : QStringLiteral("reconnecting");
        if (away_ == Away::No) {
            away_ = Away::DeviceLost;
            tell(RecordingEventKind::DeviceLost, now,
                 {QStringLiteral("Recording %1: %2 lost").arg(show, lostThing()),
                  QStringLiteral("Silence is recorded until it is back.")},
                 notices);
        }
        return;
    }
    // The engine records the show's own source or nothing: while it is missing, silence.
    // A show that names no source records the default one: its loss is the device's.
    if (status.deviceState == KELVO_DEVICE_SOURCE_MISSING && !session_.sourceName().isEmpty()) {
        note_ = QStringLiteral("not there");
        if (away_ != Away::SourceMissing) {
            away_ = Away::SourceMissing;
            tell(RecordingEventKind::SourceMissing, now,
                 {QStringLiteral("Recording %1: %2 is not there").arg(show, session_.sourceName()),
                  QStringLiteral("%1 is not there: silence is recorded until it is back.")
                      .arg(session_.sourceName())},
                 notices);
        }
        return;
    }
    if (status.deviceState != KELVO_DEVICE_CAPTURING) {
        return;
    }
    const Away was = std::exchange(away_, Away::No);
    if (status.gaps == 0) {
        return;
    }
    const QString gap = gapText(status.lastGapFrames, session_.sampleRate);
    note_ = QStringLiteral("gap ") + gap;
    // A gap shorter than a poll is only seen by its count.
    if (was == Away::No && status.gaps == gapsSeen_) {
        return;
    }
    gapsSeen_ = status.gaps;
    // Only a device seen away came back; a gap between two looks may as well have been a
    // stalled machine.
    const QString summary =
        was == Away::SourceMissing
            ? QStringLiteral("Recording %1: %2 is back").arg(show, session_.sourceName())
        : was == Away::DeviceLost ? QStringLiteral("Recording %1: %2 back").arg(show, lostThing())
                                  : QStringLiteral("Recording %1: gap in the recording").arg(show);
    tell(was == Away::SourceMissing ? RecordingEventKind::SourceBack
                                    : RecordingEventKind::DeviceBack,
         now, {summary, QStringLiteral("Gap of %1 filled with silence.").arg(gap)}, notices,
         static_cast<std::int64_t>(status.lastGapFrames /
                                   static_cast<std::uint64_t>(std::max(session_.sampleRate, 1))));
}

void RecordingSupervisor::lookAtSilence(const KelvoStatus& status, const QDateTime& now,
                                        std::vector<Notice>& notices) {
    constexpr std::int64_t kDeadAirSeconds = 60;
    // A page that never starts playing is silent from the start: worth telling sooner.
    constexpr std::int64_t kSilentWebcastSeconds = 30;
    const auto rate = static_cast<std::uint64_t>(std::max(session_.sampleRate, 1));
    const auto silent = static_cast<std::int64_t>(status.silentRunFrames / rate);
    if (silenceTold_ > 0) {
        if (status.silentRunFrames == 0 && status.deviceState == KELVO_DEVICE_CAPTURING) {
            const std::int64_t lasted = std::exchange(silenceTold_, 0);
            tell(RecordingEventKind::SoundBack, now,
                 {QStringLiteral("Recording %1: sound is back").arg(session_.showName()), {}},
                 notices, lasted);
        } else {
            silenceTold_ = std::max(silenceTold_, silent);
        }
        return;
    }
    // Silence the engine filled in for a lost device or a missing source is told as that.
    if (away_ != Away::No || status.deviceState != KELVO_DEVICE_CAPTURING) {
        return;
    }
    const bool webcast = !session_.webcastAddress.isEmpty() || !session_.streamAddress.isEmpty();
    const std::int64_t sinceStart =
        session_.startedAt.isValid() ? session_.startedAt.secsTo(now) : kDeadAirSeconds;
    const bool silentWebcast =
        webcast && silent >= kSilentWebcastSeconds && silent + 2 >= sinceStart;
    if (silent < kDeadAirSeconds && !silentWebcast) {
        return;
    }
    silenceTold_ = std::max<std::int64_t>(silent, 1);
    const QString length =
        silent >= kDeadAirSeconds ? QStringLiteral("1 min") : QStringLiteral("%1 s").arg(silent);
    tell(RecordingEventKind::Silent, now,
         {QStringLiteral("Recording %1: nothing to hear for %2 (is the webcast playing? is %3 "
                         "the right source?)")
              .arg(session_.showName(), length, session_.recordedName()),
          {}},
         notices, silent);
}

QString RecordingSupervisor::lostThing() const {
    // The engine tells a dropped stream as a lost device, reconnected the same way.
    return session_.streamAddress.isEmpty() ? QStringLiteral("sound device")
                                            : QStringLiteral("stream");
}

QString RecordingSupervisor::currentPartPath() const {
    if (session_.parts <= 1) {
        return session_.filePath;
    }
    const QFileInfo first(session_.filePath);
    return first.dir().filePath(
        QFileInfo(recordingPartName(first.fileName(), session_.parts)).fileName());
}

void RecordingSupervisor::lookAtFile(const KelvoStatus& status, const QDateTime& now,
                                     std::vector<Notice>& notices) {
    if (status.parts > 0) {
        session_.parts = static_cast<int>(status.parts);
    }
    const QString path = currentPartPath();
    struct stat named {};
    const bool there = ::stat(QFile::encodeName(path).constData(), &named) == 0;
    if (partSeen_ != session_.parts) {
        // A new part is the engine's own new file: its name is what it is now.
        partSeen_ = session_.parts;
        device_ = there ? named.st_dev : 0;
        inode_ = there ? named.st_ino : 0;
        fileGone_ = !there;
    }
    const bool ours = there && named.st_dev == device_ && named.st_ino == inode_;
    if (ours || fileGone_) {
        return;
    }
    fileGone_ = true;
    fileNote_ = QStringLiteral("file deleted");
    tell(RecordingEventKind::FileGone, now,
         {QStringLiteral("Recording %1: %2 was deleted")
              .arg(session_.showName(), QFileInfo(path).fileName()),
          QStringLiteral("Nothing is lost: the recording goes on and is written back to %1 when "
                         "it stops.")
              .arg(path)},
         notices);
}

std::vector<RecordingSupervisor::Notice> RecordingSupervisor::stopped(const KelvoStatus& status,
                                                                      const QDateTime& now) {
    std::vector<Notice> notices;
    if (status.parts > 0) {
        session_.parts = static_cast<int>(status.parts);
    }
    if (!fileGone_) {
        return notices;
    }
    const QString path = currentPartPath();
    const QString name = QFileInfo(path).fileName();
    if (QFileInfo::exists(path)) {
        tell(RecordingEventKind::FileBack, now,
             {QStringLiteral("Recording %1: %2 is back").arg(session_.showName(), name),
              QStringLiteral("The whole recording was written back to %1.").arg(path)},
             notices);
    }
    return notices;
}

} // namespace kelvo
