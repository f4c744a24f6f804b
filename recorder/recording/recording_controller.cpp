#include "recorder/recording/recording_controller.h"

#include "recorder/recording/encoder_launcher.h"
#include "recorder/recording/webcast_address.h"
#include "recorder/recording/webcast_opener.h"
#include "recorder/shows/show_record.h"

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QPalette>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace kelvo {

namespace {

const QColor kIdleBlue(0, 0, 255);
const QColor kRecordingRed(255, 0, 0);
const QColor kBlinkDarkRed(127, 0, 0);

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

// Clears a flag however the scope is left.
class FlagGuard {
public:
    explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& flag_;
};

} // namespace

RecordingController::RecordingController(CaptureEngine& engine, ProcessLauncher& launcher,
                                         const RecordingWidgets& widgets, SourceSelection* sources,
                                         MessageSink messages, LocalClock clock,
                                         RecordingSetup setup)
    : engine_(engine), launcher_(launcher), widgets_(widgets), sources_(sources),
      messages_(std::move(messages)), clock_(std::move(clock)), setup_(std::move(setup)),
      encoders_(EncoderLauncher(launcher_, QFile::encodeName(setup_.dataFolder).toStdString(),
                                setup_.encoderFolders)) {
    if (!setup_.freeSpace) {
        setup_.freeSpace = statvfsProbe();
    }
    statusPoll_.setInterval(kStatusPollMs);
    QObject::connect(&statusPoll_, &QTimer::timeout, [this] { pollStatus(); });
    widgets_.status->setText(QStringLiteral("Idle"));
    setColour(kIdleBlue);
    widgets_.blink->stop();
}

void RecordingController::startRecording(const ShowSnapshot& show) {
    start(show, RecordingStart::ByHand, kHandRecordingSeconds);
}

void RecordingController::startScheduledRecording(const ShowSnapshot& show,
                                                  std::int64_t secondsUntilStop,
                                                  const LateStart& late) {
    start(show, RecordingStart::BySchedule, secondsUntilStop, late);
}

void RecordingController::start(const ShowSnapshot& show, RecordingStart startedBy,
                                std::int64_t expectedSeconds, const LateStart& late) {
    // A failing start shows a modal message; the schedule's clock keeps ticking meanwhile
    // and must not start a second recording on top of this one.
    if (starting_) {
        return;
    }
    if (!isRecording()) {
        FlagGuard guard(starting_);
        RecordingSession session;
        session.show = show;
        session.startedBy = startedBy;
        session.late = late;
        const ShowRecord& settings = show.settings.file;
        // A refused address never holds up the recording: it records as a show without one.
        const CheckedAddress address = checkWebcastAddress(settings.webcastAddress);
        session.webcastAddress = QString::fromStdString(address.openable);
        session.outputFormat = QString::fromStdString(settings.outputFormat);
        session.mp3Quality = QString::fromStdString(settings.mp3Quality);
        session.channels = channelsOf(QString::fromStdString(settings.channels));
        // A rate that is no entry keeps the last recording's.
        const int rate = sampleRateOf(QString::fromStdString(settings.sampleRate));
        session.sampleRate = rate != 0 ? rate : session_ ? session_->sampleRate : 0;
        emit engineWanted();
        applySourceSelection();
        // A show name that is not UTF-8 names its recordings in its readable form.
        session.fileName = recordingFileName(QString::fromStdString(show.readableName), clock_());
        session.filePath = recordingFilePath(setup_.dataFolder, session.fileName);
        if (!startEngine(session)) {
            emit startFailed();
            return; // nothing records, so nothing may claim to
        }
        session.startedAt = clock_();
        session_ = std::move(session);
        supervisor_.emplace(*session_);
        enterRecording();
        if (setup_.inhibitor) {
            setup_.inhibitor->hold(QStringLiteral("Recording ") + session_->showName());
        }
        if (startedBy == RecordingStart::BySchedule) {
            notify(late.notice.isEmpty() ? QStringLiteral("Recording ") + session_->showName()
                                         : late.notice,
                   QStringLiteral("From %1 into %2").arg(sourceName(), session_->fileName));
        }
        if (!address.refusal.empty()) {
            session_->note = QStringLiteral("webcast address not opened");
            showRecordingStatus();
            notify(QStringLiteral("Recording %1: webcast address not opened")
                       .arg(session_->showName()),
                   QString::fromStdString(address.refusal));
        }
        checkRoom(expectedSeconds);
        openWebcast();
    }
    enableRecordingTimers();
}

bool RecordingController::startEngine(RecordingSession& session) {
    // The engine empties whatever file it is given: claiming the name first is what keeps
    // an earlier recording (of the same second, say) from being overwritten.
    if (const int error = claimRecordingFile(setup_.dataFolder, session.fileName); error != 0) {
        failStart(session, createFileMessage(session.filePath, error));
        return false;
    }
    session.filePath = recordingFilePath(setup_.dataFolder, session.fileName);
    const QByteArray path = QFile::encodeName(session.filePath);
    engine_.setSource(sources_ ? sources_->chosenSourceId() : std::string());
    errno = 0;
    const int started =
        engine_.startCapture(1, static_cast<std::uint32_t>(session.channels),
                             static_cast<std::uint32_t>(session.sampleRate), path.toStdString());
    if (started != 0) {
        const int error = errno;
        unlink(path.constData()); // the empty file claimed above holds nothing
        if (started == CaptureEngine::kEngineUnavailable) {
            failStart(session, engineMissingMessage(engine_.loadError()));
        } else if (started == KELVO_ERR_CREATE_FILE) {
            failStart(session, createFileMessage(session.filePath, error != 0 ? error : EIO));
        } else {
            failStart(session, kEngineMessage);
        }
        return false;
    }
    return true;
}

void RecordingController::failStart(const RecordingSession& session, const QString& message) {
    // Sent before the message box, which may wait for a user who is not there.
    notify(QStringLiteral("Recording %1 did not start").arg(session.showName()), message);
    messages_(message);
}

QString RecordingController::createFileMessage(const QString& path, int error) {
    return QStringLiteral("Cannot create the recording file %1: %2")
        .arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

QString RecordingController::writeErrorText(int error) {
    switch (error) {
    case ENOSPC:
        return QStringLiteral("disk full");
    case EDQUOT:
        return QStringLiteral("disk quota reached");
    case EFBIG:
        return QStringLiteral("file too large");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString RecordingController::gapText(std::uint64_t frames, int sampleRate) {
    const double seconds = sampleRate > 0 ? static_cast<double>(frames) / sampleRate : 0.0;
    return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
}

QString RecordingController::lengthText(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void RecordingController::enterRecording() {
    setColour(kRecordingRed);
    statusPrefix_ = session_->webcastAddress.isEmpty() ? QStringLiteral("Rec: ")
                                                       : QStringLiteral("Rec WebCast: ");
    showRecordingStatus();
    statusPoll_.start(kStatusPollMs);
}

void RecordingController::openWebcast() {
    if (session_->webcastAddress.isEmpty()) {
        return;
    }
    // Opened after the engine runs, so the webcast's beginning lands in the file.
    openWebcastAddress(launcher_, session_->webcastAddress.toStdString());
}

void RecordingController::showRecordingStatus() {
    QString text = statusPrefix_ + sourceName();
    if (!session_->note.isEmpty()) {
        text += QStringLiteral(" (") + session_->note + QLatin1Char(')');
    }
    // While paused the line says so; the news shows once the recording resumes.
    if (session_->status == RecordingStatus::Paused) {
        savedStatus_ = text;
    } else if (widgets_.status->text() != text) {
        widgets_.status->setText(text);
    }
}

std::uint64_t RecordingController::bytesPerSecond() const {
    const int frameBytes = session_->channels == 2 ? 4 : 1;
    return static_cast<std::uint64_t>(std::max(session_->sampleRate, 0)) * frameBytes;
}

std::optional<std::uint64_t> RecordingController::freeBytes() const {
    return setup_.freeSpace(QFileInfo(session_->filePath).absolutePath());
}

void RecordingController::checkRoom(std::int64_t seconds) {
    const std::optional<std::uint64_t> room = freeBytes();
    const std::uint64_t needed =
        bytesPerSecond() * static_cast<std::uint64_t>(std::max<std::int64_t>(seconds, 0));
    if (!room || *room >= needed) {
        return;
    }
    const std::uint64_t minutes = minutesOfSpace(*room, bytesPerSecond());
    // A start short of its show's length is told again once the last minutes are reached.
    session_->lowSpaceWarned = minutes * 60 < kLowSpaceSeconds;
    session_->note = QStringLiteral("only %1 min of space left").arg(minutes);
    showRecordingStatus();
    notify(
        QStringLiteral("Only %1 min of space left for %2").arg(minutes).arg(session_->showName()),
        QStringLiteral("Recording goes on into %1").arg(session_->fileName));
}

void RecordingController::pollStatus() {
    if (!isRecording()) {
        return;
    }
    KelvoStatus status{};
    if (engine_.status(status)) {
        if (status.lastWriteError != 0) {
            stop(status.lastWriteError);
            return;
        }
        for (const auto& notice : supervisor_->look(status, clock_())) {
            notify(notice.summary, notice.body);
        }
        if (!supervisor_->note().isEmpty()) {
            session_->note = supervisor_->note();
        }
        statusPoll_.setInterval(supervisor_->away() ? kReconnectPollMs : kStatusPollMs);
        showRecordingStatus();
    }
    if (!session_->lowSpaceWarned) {
        checkRoom(kLowSpaceSeconds);
    }
}

void RecordingController::enableRecordingTimers() {
    // Enabling the running blink must not restart its period.
    if (!widgets_.blink->isActive()) {
        widgets_.blink->start();
    }
    emit recordingStarted();
}

void RecordingController::stopRecording() {
    stop(0);
}

void RecordingController::stop(int writeError) {
    if (!isRecording()) {
        return;
    }
    engine_.stopMonitor(); // completes the WAV file; there is nothing to do about a failure
    KelvoStatus status{};
    const bool known = engine_.status(status);
    if (known && writeError == 0) {
        writeError = status.lastWriteError; // failed since the last poll
    }
    RecordingSession& session = *session_;
    session.status = writeError == 0 ? RecordingStatus::Ended : RecordingStatus::WriteFailed;
    session.writeError = writeError;
    session.parts = known && status.parts > 1 ? static_cast<int>(status.parts) : 1;
    statusPoll_.stop();
    widgets_.blink->stop();
    setColour(kIdleBlue);
    widgets_.status->setText(
        writeError == 0 ? QStringLiteral("Idle")
                        : QStringLiteral("Stopped: %1 (%2)")
                              .arg(writeErrorText(writeError), QString::fromLatin1(kSoundFolder)));
    emit recordingStopped();
    if (setup_.inhibitor && awakeForShow_.isEmpty()) {
        setup_.inhibitor->release();
    }

    if (known) {
        for (const auto& notice : supervisor_->stopped(status, clock_())) {
            notify(notice.summary, notice.body);
        }
    }

    const std::int64_t seconds =
        known && bytesPerSecond() > 0
            ? static_cast<std::int64_t>(status.bytesWritten / bytesPerSecond())
            : session.startedAt.secsTo(clock_());
    QString files = session.fileName;
    if (session.parts > 1) {
        files += QStringLiteral(" and %1 more parts").arg(session.parts - 1);
    }
    if (writeError != 0) {
        notify(
            QStringLiteral("Recording %1 stopped: %2")
                .arg(session.showName(), writeErrorText(writeError)),
            QStringLiteral("%1 kept, %2 recorded; no MP3 made.").arg(files, lengthText(seconds)));
        return; // a file cut short by the disk is not handed to the encoder
    }
    notify(QStringLiteral("Recording %1 ended").arg(session.showName()),
           QStringLiteral("%1, %2").arg(files, lengthText(seconds)));
    // The format captured at start decides, not what the list shows now.
    if (session.outputFormat == formats::kMp3) {
        handOffToEncoder(session.parts);
    }
}

void RecordingController::handOffToEncoder(int parts) {
    session_->mp3Quality = QString::fromStdString(bitRateOf(session_->mp3Quality.toStdString()));
    const EncoderLauncher encoder(launcher_, {}, setup_.encoderFolders);
    if (encoder.script().empty()) {
        QStringList folders;
        for (const std::string& folder : setup_.encoderFolders) {
            folders << QFile::decodeName(QByteArray::fromStdString(folder));
        }
        notify(QStringLiteral("No MP3 made of %1").arg(session_->showName()),
               QStringLiteral("There is no %1 in %2.")
                   .arg(QString::fromLatin1(kEncoderScript), folders.join(QStringLiteral(" or "))));
        return;
    }
    for (int part = 1; part <= parts; ++part) {
        encoders_.add(session_->mp3Quality.toStdString(),
                      QFile::encodeName(recordingPartName(session_->fileName, part)).toStdString());
    }
}

void RecordingController::keepAwakeForSchedule(const QString& show) {
    const QString before = std::exchange(awakeForShow_, show);
    if (show == before || !setup_.inhibitor || isRecording()) {
        return; // a running recording holds its own
    }
    if (!show.isEmpty()) {
        setup_.inhibitor->hold(QStringLiteral("Recording ") + show + QStringLiteral(" soon"));
    } else {
        setup_.inhibitor->release();
    }
}

void RecordingController::notify(const QString& summary, const QString& body) const {
    if (setup_.notifier) {
        setup_.notifier->notify(summary, body);
    }
}

void RecordingController::togglePause() {
    if (!isRecording()) {
        return;
    }
    RecordingSession& session = *session_;
    const bool pausing = session.status == RecordingStatus::Recording;
    session.status = pausing ? RecordingStatus::Paused : RecordingStatus::Recording;
    engine_.togglePause();
    if (pausing) {
        savedStatus_ = widgets_.status->text();
        widgets_.status->setText(QStringLiteral("Paused: ") + sourceName());
    } else {
        widgets_.status->setText(savedStatus_);
    }
}

void RecordingController::blinkTick() {
    setColour(blinkPhase_ ? kBlinkDarkRed : kRecordingRed);
    blinkPhase_ = !blinkPhase_;
}

void RecordingController::setColour(const QColor& colour) {
    setTextColour(widgets_.status, colour);
    setTextColour(widgets_.clock, colour);
}

QString RecordingController::sourceName() const {
    // A recording names the source its show asked for, which is the one it waits for when
    // it is not there.
    if (session_ && !session_->sourceName().isEmpty()) {
        return session_->sourceName();
    }
    return sources_ ? QString::fromStdString(sources_->selectedSourceName()) : QString();
}

void RecordingController::applySourceSelection() {
    if (sources_) {
        sources_->applySourceSelection();
    }
}

} // namespace kelvo
