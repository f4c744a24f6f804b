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
                                         const RecordingWidgets& widgets, RecordingHooks hooks,
                                         MessageSink messages, LocalClock clock,
                                         RecordingSetup setup)
    : engine_(engine), launcher_(launcher), widgets_(widgets), hooks_(std::move(hooks)),
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

void RecordingController::startRecording() {
    start(false, kHandRecordingSeconds);
}

void RecordingController::startScheduledRecording(std::int64_t secondsUntilStop) {
    start(true, secondsUntilStop);
}

void RecordingController::start(bool scheduled, std::int64_t expectedSeconds) {
    // A failing start shows a modal message; the schedule's clock keeps ticking meanwhile
    // and must not start a second recording on top of this one.
    if (starting_) {
        return;
    }
    if (!isRecording()) {
        FlagGuard guard(starting_);
        watch_ = Watch{};
        watch_.scheduled = scheduled;
        if (hooks_.holdWebcastAddress) {
            hooks_.holdWebcastAddress(widgets_.webcast->text());
        }
        // A refused address never holds up the recording: it records as a show without one.
        const CheckedAddress address = checkWebcastAddress(widgets_.webcast->text().toStdString());
        state_.webcastAddress = QString::fromStdString(address.openable);
        readRecordingSettings();
        const bool wasMonitoring = widgets_.monitor->isChecked();
        prepareSourceAndMeters();
        state_.fileName = recordingFileName(
            hooks_.currentShowName ? hooks_.currentShowName() : QString(), clock_());
        state_.filePath = recordingFilePath(setup_.dataFolder, state_.fileName);
        if (!startEngine()) {
            // Monitoring was stopped for the start; its box must not claim otherwise.
            if (wasMonitoring) {
                widgets_.monitor->setChecked(false);
            }
            return; // nothing records, so nothing may claim to
        }
        watch_.startedAt = clock_();
        enterRecording();
        if (setup_.inhibitor) {
            setup_.inhibitor->hold(QStringLiteral("Recording ") + showName());
        }
        if (scheduled) {
            notify(QStringLiteral("Recording ") + showName(),
                   QStringLiteral("From %1 into %2").arg(sourceName(), state_.fileName));
        }
        if (!address.refusal.empty()) {
            watch_.note = QStringLiteral("webcast address not opened");
            showRecordingStatus();
            notify(QStringLiteral("Recording %1: webcast address not opened").arg(showName()),
                   QString::fromStdString(address.refusal));
        }
        checkRoom(expectedSeconds);
        openWebcast();
    }
    enableRecordingTimers();
}

void RecordingController::readRecordingSettings() {
    state_.outputFormat = widgets_.outputFormat->currentText();
    state_.mp3Quality = widgets_.mp3Quality->currentText();
    state_.channels = channelsOf(widgets_.channels->currentText());
    if (const int rate = sampleRateOf(widgets_.sampleRate->currentText()); rate != 0) {
        state_.sampleRate = rate;
    }
}

void RecordingController::prepareSourceAndMeters() {
    if (widgets_.monitor->isChecked()) {
        call(hooks_.stopMonitoring);
    }
    call(hooks_.applySourceSelection);
    call(hooks_.clearLevelMeters);
}

bool RecordingController::startEngine() {
    // The engine empties whatever file it is given: claiming the name first is what keeps
    // an earlier recording (of the same second, say) from being overwritten.
    if (const int error = claimRecordingFile(setup_.dataFolder, state_.fileName); error != 0) {
        failStart(createFileMessage(state_.filePath, error));
        return false;
    }
    state_.filePath = recordingFilePath(setup_.dataFolder, state_.fileName);
    const QByteArray path = QFile::encodeName(state_.filePath);
    errno = 0;
    const int started =
        engine_.startCapture(1, static_cast<std::uint32_t>(state_.channels),
                             static_cast<std::uint32_t>(state_.sampleRate), path.toStdString());
    if (started != 0) {
        const int error = errno;
        unlink(path.constData()); // the empty file claimed above holds nothing
        if (started == CaptureEngine::kEngineUnavailable) {
            failStart(engineMissingMessage(engine_.loadError()));
        } else if (started == KELVO_ERR_CREATE_FILE) {
            failStart(createFileMessage(state_.filePath, error != 0 ? error : EIO));
        } else {
            failStart(kEngineMessage);
        }
        return false;
    }
    return true;
}

void RecordingController::failStart(const QString& message) {
    // Sent before the message box, which may wait for a user who is not there.
    notify(QStringLiteral("Recording %1 did not start").arg(showName()), message);
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
    setRecordingState(true);
    setColour(kRecordingRed);
    statusPrefix_ =
        state_.webcastAddress.isEmpty() ? QStringLiteral("Rec: ") : QStringLiteral("Rec WebCast: ");
    showRecordingStatus();
    statusPoll_.start(kStatusPollMs);
}

void RecordingController::openWebcast() {
    if (state_.webcastAddress.isEmpty()) {
        return;
    }
    // Opened after the engine runs, so the webcast's beginning lands in the file.
    openWebcastAddress(launcher_, state_.webcastAddress.toStdString());
}

void RecordingController::showRecordingStatus() {
    QString text = statusPrefix_ + sourceName();
    if (!watch_.note.isEmpty()) {
        text += QStringLiteral(" (") + watch_.note + QLatin1Char(')');
    }
    // While paused the line says so; the news shows once the recording resumes.
    if (state_.paused) {
        state_.savedStatus = text;
    } else if (widgets_.status->text() != text) {
        widgets_.status->setText(text);
    }
}

std::uint64_t RecordingController::bytesPerSecond() const {
    const int frameBytes = state_.channels == 2 ? 4 : 1;
    return static_cast<std::uint64_t>(std::max(state_.sampleRate, 0)) * frameBytes;
}

std::optional<std::uint64_t> RecordingController::freeBytes() const {
    return setup_.freeSpace(QFileInfo(state_.filePath).absolutePath());
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
    watch_.lowSpaceWarned = minutes * 60 < kLowSpaceSeconds;
    watch_.note = QStringLiteral("only %1 min of space left").arg(minutes);
    showRecordingStatus();
    notify(QStringLiteral("Only %1 min of space left for %2").arg(minutes).arg(showName()),
           QStringLiteral("Recording goes on into %1").arg(state_.fileName));
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
        if (status.deviceState == KELVO_DEVICE_RECONNECTING) {
            watch_.note = QStringLiteral("reconnecting");
            // The chosen source made the server's default as soon as the server answers,
            // so the engine reopens on it: moving a running stream later loses audio.
            call(hooks_.applySourceSelection);
            statusPoll_.setInterval(kReconnectPollMs);
            if (!watch_.deviceAway) {
                watch_.deviceAway = true;
                notify(QStringLiteral("Recording %1: sound device lost").arg(showName()),
                       QStringLiteral("Silence is recorded until it is back."));
            }
        } else if (status.deviceState == KELVO_DEVICE_CAPTURING && status.gaps > 0) {
            const QString gap = gapText(status.lastGapFrames, state_.sampleRate);
            watch_.note = QStringLiteral("gap ") + gap;
            // A gap shorter than a poll is only seen by its count.
            if (watch_.deviceAway || status.gaps != watch_.gapsSeen) {
                watch_.deviceAway = false;
                statusPoll_.setInterval(kStatusPollMs);
                watch_.gapsSeen = status.gaps;
                // A restarted sound server picks a default source of its own; the recording
                // must go on from the one the user chose (a no-op when it already does).
                call(hooks_.applySourceSelection);
                notify(QStringLiteral("Recording %1: sound device back").arg(showName()),
                       QStringLiteral("Gap of %1 filled with silence.").arg(gap));
            }
        }
        showRecordingStatus();
    }
    if (!watch_.lowSpaceWarned) {
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
    statusPoll_.stop();
    widgets_.blink->stop();
    setColour(kIdleBlue);
    widgets_.status->setText(
        writeError == 0 ? QStringLiteral("Idle")
                        : QStringLiteral("Stopped: %1 (%2)")
                              .arg(writeErrorText(writeError), QString::fromLatin1(kSoundFolder)));
    setRecordingState(false);
    state_.paused = false;
    emit recordingStopped();
    widgets_.monitor->setChecked(false);
    call(hooks_.clearLevelMeters);
    if (setup_.inhibitor && !awakeForSchedule_) {
        setup_.inhibitor->release();
    }

    const int parts = known && status.parts > 1 ? static_cast<int>(status.parts) : 1;
    const std::int64_t seconds =
        known && bytesPerSecond() > 0
            ? static_cast<std::int64_t>(status.bytesWritten / bytesPerSecond())
            : watch_.startedAt.secsTo(clock_());
    QString files = state_.fileName;
    if (parts > 1) {
        files += QStringLiteral(" and %1 more parts").arg(parts - 1);
    }
    if (writeError != 0) {
        notify(
            QStringLiteral("Recording %1 stopped: %2").arg(showName(), writeErrorText(writeError)),
            QStringLiteral("%1 kept, %2 recorded; no MP3 made.").arg(files, lengthText(seconds)));
        return; // a file cut short by the disk is not handed to the encoder
    }
    notify(QStringLiteral("Recording %1 ended").arg(showName()),
           QStringLiteral("%1, %2").arg(files, lengthText(seconds)));
    // The format captured at start decides, not what the list shows now.
    if (state_.outputFormat == formats::kMp3) {
        handOffToEncoder(parts);
    }
}

void RecordingController::handOffToEncoder(int parts) {
    state_.mp3Quality = QString::fromStdString(bitRateOf(state_.mp3Quality.toStdString()));
    const EncoderLauncher encoder(launcher_, {}, setup_.encoderFolders);
    if (encoder.script().empty()) {
        QStringList folders;
        for (const std::string& folder : setup_.encoderFolders) {
            folders << QFile::decodeName(QByteArray::fromStdString(folder));
        }
        notify(QStringLiteral("No MP3 made of %1").arg(showName()),
               QStringLiteral("There is no %1 in %2.")
                   .arg(QString::fromLatin1(kEncoderScript), folders.join(QStringLiteral(" or "))));
        return;
    }
    for (int part = 1; part <= parts; ++part) {
        encoders_.add(state_.mp3Quality.toStdString(),
                      QFile::encodeName(recordingPartName(state_.fileName, part)).toStdString());
    }
}

void RecordingController::keepAwakeForSchedule(bool soon) {
    if (soon == awakeForSchedule_ || !setup_.inhibitor) {
        awakeForSchedule_ = soon;
        return;
    }
    awakeForSchedule_ = soon;
    if (isRecording()) {
        return; // the recording holds its own
    }
    if (soon) {
        setup_.inhibitor->hold(QStringLiteral("Recording ") + showName() + QStringLiteral(" soon"));
    } else {
        setup_.inhibitor->release();
    }
}

void RecordingController::notify(const QString& summary, const QString& body) const {
    if (setup_.notifier) {
        setup_.notifier->notify(summary, body);
    }
}

QString RecordingController::showName() const {
    const QString name = hooks_.currentShowName ? hooks_.currentShowName() : QString();
    return name.isEmpty() ? QString::fromLatin1(kDefaultShowName) : name;
}

void RecordingController::togglePause() {
    if (!isRecording()) {
        return;
    }
    state_.paused = !state_.paused;
    engine_.togglePause();
    if (state_.paused) {
        state_.savedStatus = widgets_.status->text();
        widgets_.status->setText(QStringLiteral("Paused: ") + sourceName());
    } else {
        widgets_.status->setText(state_.savedStatus);
    }
}

void RecordingController::setRecordingState(bool recording) {
    state_.recording = recording;
    // Recording owns the engine: monitoring cannot be switched on meanwhile.
    widgets_.monitor->setEnabled(!recording);
}

void RecordingController::blinkTick() {
    setColour(state_.blinkPhase ? kBlinkDarkRed : kRecordingRed);
    state_.blinkPhase = !state_.blinkPhase;
}

void RecordingController::setColour(const QColor& colour) {
    setTextColour(widgets_.status, colour);
    setTextColour(widgets_.clock, colour);
}

QString RecordingController::sourceName() const {
    return hooks_.sourceName ? hooks_.sourceName() : QString();
}

void RecordingController::call(const std::function<void()>& hook) const {
    if (hook) {
        hook();
    }
}

} // namespace kelvo
