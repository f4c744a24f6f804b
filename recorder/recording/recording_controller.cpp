#include "recorder/recording/recording_controller.h"

#include "recorder/recording/encoder_launcher.h"
#include "recorder/recording/webcast_address.h"
#include "recorder/recording/webcast_opener.h"
#include "recorder/shows/show_record.h"
#include "recorder/shows/show_settings.h"

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QPalette>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
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

// The files a stream's engine may make beside NAME.wav: NAME.cue and the broadcast's copy.
QStringList besideRecording(const QString& wavPath) {
    QStringList files;
    const QString stem = wavPath.chopped(QFileInfo(wavPath).suffix().size() + 1);
    for (const char* extension : {".cue", ".mp3", ".aac", ".ogg", ".opus"}) {
        if (QFileInfo::exists(stem + QLatin1String(extension))) {
            files << stem + QLatin1String(extension);
        }
    }
    return files;
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
                                setup_.encoderFolders),
                nullptr, setup_.encoderPatienceSeconds) {
    QObject::connect(&encoders_, &EncoderQueue::outcome, this,
                     [this](const EncoderOutcome& outcome) { encoderOutcome(outcome); });
    if (!setup_.freeSpace) {
        setup_.freeSpace = statvfsProbe();
    }
    statusPoll_.setInterval(kStatusPollMs);
    QObject::connect(&statusPoll_, &QTimer::timeout, [this] { pollStatus(); });
    startRetry_.setInterval(kStartRetryMs);
    QObject::connect(&startRetry_, &QTimer::timeout, [this] { retryStart(); });
    QObject::connect(&connectPoll_, &QTimer::timeout, [this] { streamConnected(); });
    widgets_.status->setText(QStringLiteral("Idle"));
    setColour(kIdleBlue);
    widgets_.blink->stop();
}

RecordingController::~RecordingController() {
    if (pending_) {
        // The program ends during a connection: it is given up, and the file claimed for it
        // goes; nobody is told, the receivers of the signals may be gone.
        pending_->cancelled = true;
        while (!pending_->run->cancel(std::chrono::seconds(1))) {
        }
        const int code = pending_->run->result()->code;
        PendingStart start = std::move(*std::exchange(pending_, std::nullopt));
        start.run.reset();
        dropCancelled(start, code, false);
    }
    for (auto& [path, report] : reports_) {
        for (ReportPart& part : report.parts) {
            if (part.encoder == EncoderState::Waiting) {
                part.encoder = EncoderState::Running;
                part.encoderText = QStringLiteral("started as the program ended; not watched");
            }
        }
        if (QFileInfo::exists(QFileInfo(path).path())) {
            writeReport(path, report);
        }
    }
    // encoders_, destroyed after this, starts those parts.
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
    if (pending_ && pending_->cancelled && !starting_) {
        // Stopped, but its connection has not given up yet (a name lookup cannot be cut
        // short): this start, the next show's perhaps, waits for the engine rather than be
        // lost.
        while (!pending_->run->cancel(std::chrono::seconds(1))) {
        }
        streamConnected();
    }
    // A failing start shows a modal message; the schedule's clock keeps ticking meanwhile
    // and must not start a second recording on top of this one, nor one still connecting.
    if (starting_ || pending_) {
        return;
    }
    if (!isRecording()) {
        // A new start replaces one still being tried.
        retry_.reset();
        startRetry_.stop();
        if (!tryStart(show, startedBy, expectedSeconds, late, clock_())) {
            return;
        }
    }
    enableRecordingTimers();
}

bool RecordingController::tryStart(const ShowSnapshot& show, RecordingStart startedBy,
                                   std::int64_t expectedSeconds, const LateStart& late,
                                   const QDateTime& due) {
    FlagGuard guard(starting_);
    PendingStart start;
    start.startedBy = startedBy;
    start.expectedSeconds = expectedSeconds;
    start.due = due;
    RecordingSession& session = start.session;
    session.show = show;
    session.startedBy = startedBy;
    session.late = late;
    const ShowRecord& settings = show.settings.file;
    // A refused address never holds up the recording: it records as a show without one.
    const CheckedAddress address = checkWebcastAddress(settings.webcastAddress);
    start.refusal = address.refusal;
    session.webcastAddress = QString::fromStdString(address.openable);
    session.outputFormat = QString::fromStdString(settings.outputFormat);
    session.mp3Quality = QString::fromStdString(settings.mp3Quality);
    session.channels = channelsOf(QString::fromStdString(settings.channels));
    // A rate that is no entry keeps the last recording's.
    const int rate = sampleRateOf(QString::fromStdString(settings.sampleRate));
    session.sampleRate = rate != 0 ? rate : session_ ? session_->sampleRate : 0;
    // A stream is recorded by the engine itself: the mixer and its source are left alone.
    const WebcastSettings webcast = webcastSettings(show.settings.side);
    const bool stream = webcast.recordStream && !session.webcastAddress.isEmpty();
    emit engineWanted();
    if (!stream) {
        applySourceSelection();
    }
    // A show name that is not UTF-8 names its recordings in its readable form.
    session.fileName = recordingFileName(QString::fromStdString(show.readableName), clock_());
    session.filePath = recordingFilePath(setup_.dataFolder, session.fileName);
    if (stream) {
        return startStream(start, webcast.keepStream);
    }
    if (const auto failure = startEngine(session)) {
        // Nobody may be there to start it again: the schedule's own start keeps trying.
        if (failure->deviceAway && startedBy == RecordingStart::BySchedule) {
            keepTrying(session, due, expectedSeconds);
        } else if (retry_) {
            giveUpStart(failure->message.left(1).toLower() + failure->message.mid(1));
        } else {
            failStart(session, failure->message);
        }
        emit startFailed();
        return false; // nothing records, so nothing may claim to
    }
    beginRecording(start);
    return true;
}

void RecordingController::beginRecording(PendingStart& start) {
    const RecordingStart startedBy = start.startedBy;
    const std::int64_t expectedSeconds = start.expectedSeconds;
    // A stream's time starts once it is connected, as its file's does.
    start.session.startedAt = clock_();
    session_ = std::move(start.session);
    session_->sourceRecorded = sourceName();
    lastStatus_.reset();
    supervisor_.emplace(*session_);
    if (retry_) {
        retry_.reset();
        startRetry_.stop();
        markLate(std::max<std::int64_t>(start.due.secsTo(session_->startedAt), 0));
    }
    if (startedBy == RecordingStart::BySchedule) {
        session_->secondsAsked = std::max<std::int64_t>(expectedSeconds, 0) +
                                 session_->late.seconds + session_->lateSeconds;
    }
    enterRecording();
    if (setup_.inhibitor) {
        setup_.inhibitor->hold(QStringLiteral("Recording ") + session_->showName());
    }
    if (startedBy == RecordingStart::BySchedule) {
        notify(session_->late.notice.isEmpty() ? QStringLiteral("Recording ") + session_->showName()
                                               : session_->late.notice,
               QStringLiteral("From %1 into %2").arg(sourceName(), session_->fileName));
    }
    if (!start.refusal.empty()) {
        session_->note = QStringLiteral("webcast address not opened");
        showRecordingStatus();
        notify(QStringLiteral("Recording %1: webcast address not opened").arg(session_->showName()),
               QString::fromStdString(start.refusal));
    }
    if (!session_->streamNotRecorded.isEmpty()) {
        notify(QStringLiteral("Recording %1: %2")
                   .arg(session_->showName(), session_->streamNotRecorded),
               QStringLiteral("It is recorded as without \"Record the stream itself\": "
                              "opened in the browser, recording %1.")
                   .arg(sourceName()));
    }
    checkRoom(expectedSeconds);
    openWebcast();
}

void RecordingController::keepTrying(const RecordingSession& session, const QDateTime& due,
                                     std::int64_t expectedSeconds) {
    if (retry_) {
        return; // told at the first try
    }
    retry_ = Retry{session.show, session.late, due, due.addSecs(expectedSeconds)};
    startRetry_.start(kStartRetryMs);
    widgets_.status->setText(QStringLiteral("Recording %1 did not start: trying again every 2 s")
                                 .arg(session.showName()));
    notify(QStringLiteral("Recording %1 did not start: the sound server is away")
               .arg(session.showName()),
           QStringLiteral("Trying again every 2 s until its stop at %1.")
               .arg(retry_->stopAt.time().toString(QStringLiteral("HH:mm:ss"))));
}

void RecordingController::retryStart() {
    if (!retry_ || starting_ || pending_ || isRecording()) {
        return;
    }
    const QDateTime now = clock_();
    if (now >= retry_->stopAt) {
        giveUpStart(QStringLiteral("the sound server was away until its stop"));
        return;
    }
    const Retry retry = *retry_;
    if (tryStart(retry.show, RecordingStart::BySchedule, now.secsTo(retry.stopAt), retry.late,
                 retry.due)) {
        enableRecordingTimers();
    }
}

void RecordingController::giveUpStart(const QString& why) {
    if (!retry_) {
        return;
    }
    RecordingSession never;
    never.show = retry_->show;
    retry_.reset();
    startRetry_.stop();
    // No box: this is when nobody is there; the line says it to whoever comes back.
    const QString summary = QStringLiteral("Recording %1 did not start").arg(never.showName());
    widgets_.status->setText(summary + QStringLiteral(": ") + why);
    notify(summary, why.left(1).toUpper() + why.mid(1) + QLatin1Char('.'));
}

void RecordingController::markLate(std::int64_t lost) {
    RecordingSession& session = *session_;
    session.lateSeconds = lost;
    const QString late = lostText(session.late.seconds + lost);
    session.late.notice = QStringLiteral("Recording %1 started %2 late: the sound server was away")
                              .arg(session.showName(), late);
    session.note = QStringLiteral("started %1 late").arg(late);
    session.events.push_back(RecordingEvent{session.startedAt, RecordingEventKind::StartedLate,
                                            session.late.notice, lost});
}

QString RecordingController::lostText(std::int64_t seconds) {
    if (seconds < 60) {
        return QStringLiteral("%1 s").arg(std::max<std::int64_t>(seconds, 0));
    }
    const std::int64_t minutes = (seconds + 30) / 60;
    return minutes < 60 ? QStringLiteral("%1 min").arg(minutes)
                        : QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

bool RecordingController::startStream(PendingStart& start, bool keepCopy) {
    RecordingSession& session = start.session;
    // The engine keeps its stream for every later start, monitoring's too: it is cleared
    // whenever a stream recording did not start, and at its stop.
    engine_.keepStreamCopy(keepCopy);
    if (const int set = engine_.setStream(session.webcastAddress.toStdString()); set != 0) {
        engine_.setStream({});
        return streamNotTaken(start, set);
    }
    if (const int error = claimRecordingFile(setup_.dataFolder, session.fileName); error != 0) {
        engine_.setStream({});
        failStart(session, createFileMessage(session.filePath, error));
        return streamFailed();
    }
    session.filePath = recordingFilePath(setup_.dataFolder, session.fileName);
    start.keptBeside = besideRecording(session.filePath);
    const QString connecting = QStringLiteral("Recording %1: connecting to %2…")
                                   .arg(session.showName(), session.webcastAddress);
    const auto channels = static_cast<std::uint32_t>(session.channels);
    const auto rate = static_cast<std::uint32_t>(session.sampleRate);
    const std::string path = QFile::encodeName(session.filePath).toStdString();
    start.lineBefore = widgets_.status->text();
    pending_ = std::move(start);
    pending_->run = std::make_unique<BackgroundStart>(engine_, channels, rate, path);
    connectPoll_.start(kConnectPollMs);
    widgets_.status->setText(connecting);
    return false;
}

void RecordingController::streamConnected() {
    const std::optional<BackgroundStart::Result> result =
        pending_ ? pending_->run->result() : std::nullopt;
    if (!result) {
        return;
    }
    connectPoll_.stop();
    PendingStart start = std::move(*std::exchange(pending_, std::nullopt));
    start.run.reset();
    if (start.cancelled) {
        dropCancelled(start, result->code, true);
        return;
    }
    FlagGuard guard(starting_); // a failure's message may hold the window in a box
    if (streamAnswered(start, result->code, result->error)) {
        enableRecordingTimers();
    }
}

bool RecordingController::streamAnswered(PendingStart& start, int code, int error) {
    RecordingSession& session = start.session;
    if (code == 0) {
        session.streamAddress = session.webcastAddress;
        beginRecording(start);
        return true;
    }
    const QByteArray path = QFile::encodeName(session.filePath);
    unlink(path.constData()); // the empty file claimed for it holds nothing
    engine_.setStream({});
    // A failure is told as it would have been without the wait.
    widgets_.status->setText(start.lineBefore);
    if (code == KELVO_ERR_CREATE_FILE) {
        failStart(session, createFileMessage(session.filePath, error != 0 ? error : EIO));
        return streamFailed();
    }
    return streamNotTaken(start, code);
}

bool RecordingController::streamNotTaken(PendingStart& start, int code) {
    RecordingSession& session = start.session;
    const QString reason = streamFailure(code, session.webcastAddress);
    if (code == KELVO_ERR_STREAM_UNREACHABLE || code == KELVO_ERR_STREAM_REFUSED) {
        // Unattended, the status line is where a returning user looks first.
        const QString summary =
            QStringLiteral("Recording %1 did not start").arg(session.showName());
        widgets_.status->setText(summary + QStringLiteral(": ") + reason);
        notify(summary, reason);
        messages_(widgets_.status->text());
        return streamFailed();
    }
    if (reason.isEmpty()) {
        failStart(session, code == CaptureEngine::kEngineUnavailable
                               ? engineMissingMessage(engine_.loadError())
                               : kEngineMessage);
        return streamFailed();
    }
    // A page, a local file or an engine without streams: recorded the way a webcast always
    // was, so the show is not lost.
    session.streamNotRecorded = reason;
    applySourceSelection();
    if (const auto failure = startEngine(session)) {
        failStart(session, failure->message);
        return streamFailed();
    }
    beginRecording(start);
    return true;
}

bool RecordingController::streamFailed() {
    retry_.reset(); // a stream's failure is its own, told already
    startRetry_.stop();
    emit startFailed();
    return false;
}

void RecordingController::cancelConnection(RecordingEnd how) {
    PendingStart& start = *pending_;
    if (start.cancelled) {
        return;
    }
    start.cancelled = true;
    const QString summary =
        QStringLiteral("Recording %1 did not start").arg(start.session.showName());
    const QString why = how == RecordingEnd::StopTime
                            ? QStringLiteral("its stop came while connecting to %1")
                            : QStringLiteral("stopped while connecting to %1");
    const QString told = why.arg(start.session.webcastAddress);
    widgets_.status->setText(summary + QStringLiteral(": ") + told);
    notify(summary, told.left(1).toUpper() + told.mid(1) + QLatin1Char('.'));
    // The next show may start at this very second: the engine is free as soon as the
    // connection gives up, which a cancel makes quick.
    if (start.run->cancel(std::chrono::milliseconds(kCancelWaitMs))) {
        streamConnected();
    }
}

void RecordingController::dropCancelled(PendingStart& start, int code, bool tell) {
    const QString path = start.session.filePath;
    if (code == 0) {
        engine_.stopMonitor(); // connected just as it was stopped: it never was a recording
    }
    engine_.setStream({});
    // The recording's file, and what the engine began beside it (a title's cue sheet, the
    // broadcast's copy), are gone; what was there before stays.
    QFile::remove(path);
    for (const QString& file : besideRecording(path)) {
        if (!start.keptBeside.contains(file)) {
            QFile::remove(file);
        }
    }
    if (tell) {
        emit startFailed();
    }
}

QString RecordingController::streamFailure(int code, const QString& address) {
    switch (code) {
    case KELVO_ERR_STREAM_UNREACHABLE:
        return QStringLiteral("the stream %1 cannot be reached").arg(address);
    case KELVO_ERR_STREAM_REFUSED:
        return QStringLiteral("the server of the stream %1 answered with an error (is the "
                              "address right?)")
            .arg(address);
    case KELVO_ERR_STREAM_NOT_AUDIO:
        return QStringLiteral("%1 is a web page, not an audio stream").arg(address);
    case KELVO_ERR_STREAM_ADDRESS:
        return QStringLiteral("%1 is not an http:// or https:// stream").arg(address);
    case CaptureEngine::kStreamUnsupported:
    case KELVO_ERR_STREAM_UNSUPPORTED:
        return QStringLiteral("this capture engine cannot record streams");
    default:
        return {};
    }
}

std::optional<RecordingController::StartFailure>
RecordingController::startEngine(RecordingSession& session) {
    // Before the mixer has started the server's default source is all the engine could
    // record: never another source than the show's.
    if (sources_ && !sources_->ready()) {
        return StartFailure{QString::fromLatin1(kNoSoundServerMessage), true};
    }
    // The engine empties whatever file it is given: claiming the name first is what keeps
    // an earlier recording (of the same second, say) from being overwritten.
    if (const int error = claimRecordingFile(setup_.dataFolder, session.fileName); error != 0) {
        return StartFailure{createFileMessage(session.filePath, error)};
    }
    session.filePath = recordingFilePath(setup_.dataFolder, session.fileName);
    const QByteArray path = QFile::encodeName(session.filePath);
    engine_.setSource(sources_ ? sources_->chosenSourceId() : std::string());
    errno = 0;
    const int started =
        engine_.startCapture(1, static_cast<std::uint32_t>(session.channels),
                             static_cast<std::uint32_t>(session.sampleRate), path.toStdString());
    if (started == 0) {
        return std::nullopt;
    }
    const int error = errno;
    unlink(path.constData()); // the empty file claimed above holds nothing
    if (started == CaptureEngine::kEngineUnavailable) {
        return StartFailure{engineMissingMessage(engine_.loadError())};
    }
    if (started == KELVO_ERR_CREATE_FILE) {
        return StartFailure{createFileMessage(session.filePath, error != 0 ? error : EIO)};
    }
    // The device could not be opened or started: busy, or its server is not there.
    return StartFailure{kEngineMessage,
                        started == KELVO_ERR_OPEN_DEVICE || started == KELVO_ERR_START_CAPTURE};
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
    statusPrefix_ = !session_->streamAddress.isEmpty()   ? QStringLiteral("Rec Stream: ")
                    : session_->webcastAddress.isEmpty() ? QStringLiteral("Rec: ")
                                                         : QStringLiteral("Rec WebCast: ");
    if (!session_->streamNotRecorded.isEmpty()) {
        session_->note = QStringLiteral("not a stream: opened in the browser");
    }
    showRecordingStatus();
    statusPoll_.start(kStatusPollMs);
}

void RecordingController::openWebcastAhead(const ShowSnapshot& show, const QDateTime& startsAt) {
    // A refused address is told at the start, when the recording it concerns is there.
    const std::string address = checkWebcastAddress(show.settings.file.webcastAddress).openable;
    if (isRecording() || address.empty() ||
        (openedAhead_ && openedAhead_->show == show.name && openedAhead_->startsAt == startsAt)) {
        return;
    }
    openWebcastAddress(launcher_, address);
    openedAhead_ = OpenedAhead{show.name, address, startsAt};
}

void RecordingController::openWebcast() {
    if (session_->webcastAddress.isEmpty() || !session_->streamAddress.isEmpty()) {
        return;
    }
    // Opened ahead for this very start: a second tab would play the webcast twice over.
    constexpr qint64 kAheadSlackSeconds = 60;
    const auto ahead = std::exchange(openedAhead_, std::nullopt);
    if (ahead && ahead->show == session_->show.name &&
        ahead->address == session_->webcastAddress.toStdString() &&
        std::abs(session_->startedAt.secsTo(ahead->startsAt)) <= kAheadSlackSeconds) {
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
        lastStatus_ = status;
        if (status.lastWriteError != 0) {
            stop(status.lastWriteError, RecordingEnd::WriteError);
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

void RecordingController::stopRecording(RecordingEnd how) {
    if (pending_) {
        cancelConnection(how);
        return;
    }
    if (retry_) {
        giveUpStart(clock_() >= retry_->stopAt
                        ? QStringLiteral("the sound server was away until its stop")
                        : QStringLiteral("stopped while waiting for the sound server"));
        return;
    }
    stop(0, how);
}

void RecordingController::stop(int writeError, RecordingEnd how) {
    if (!isRecording()) {
        return;
    }
    engine_.stopMonitor(); // completes the WAV file; there is nothing to do about a failure
    if (!session_->streamAddress.isEmpty()) {
        engine_.setStream({}); // monitoring and the next show record their sources again
    }
    KelvoStatus status{};
    const bool known = engine_.status(status);
    if (known && writeError == 0) {
        writeError = status.lastWriteError; // failed since the last poll
    }
    RecordingSession& session = *session_;
    session.status = writeError == 0 ? RecordingStatus::Ended : RecordingStatus::WriteFailed;
    session.writeError = writeError;
    session.parts = known && status.parts > 1 ? static_cast<int>(status.parts) : 1;
    session.endedAt = clock_();
    session.endedBy = writeError == 0 ? how : RecordingEnd::WriteError;
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

    RecordingReport report = reportOf(session, known ? std::optional(status) : std::nullopt);
    const std::int64_t seconds = report.secondsRecorded;
    QString files = session.fileName;
    if (session.parts > 1) {
        files += QStringLiteral(" and %1 more parts").arg(session.parts - 1);
    }
    // The format captured at start decides, not what the list shows now; a file cut short
    // by the disk is not handed to the encoder.
    const bool encode = writeError == 0 && session.outputFormat == formats::kMp3;
    if (encode) {
        for (ReportPart& part : report.parts) {
            part.encoder = EncoderState::Waiting;
        }
    }
    const QString reportPath = reportPathOf(session.filePath);
    reports_[reportPath] = report;
    const QString unsaved = writeReport(reportPath, report);
    const QString unsavedNote =
        unsaved.isEmpty() ? QString() : QStringLiteral("; no report written: %1").arg(unsaved);
    if (writeError != 0) {
        notify(
            QStringLiteral("Recording %1 stopped: %2")
                .arg(session.showName(), writeErrorText(writeError)),
            QStringLiteral("%1 kept, %2 recorded; no MP3 made.").arg(files, lengthText(seconds)) +
                unsavedNote);
    } else {
        notify(
            QStringLiteral("Recording %1 ended: %2").arg(session.showName(), verdictText(report)),
            QStringLiteral("%1, %2").arg(files, lengthText(seconds)) + unsavedNote);
    }
    if (encode) {
        handOffToEncoder(reportPath, report);
    } else {
        reports_.erase(reportPath);
    }
}

void RecordingController::handOffToEncoder(const QString& reportPath,
                                           const RecordingReport& report) {
    session_->mp3Quality = QString::fromStdString(bitRateOf(session_->mp3Quality.toStdString()));
    EncoderJob job{reportPath,
                   session_->showName(),
                   session_->mp3Quality.toStdString(),
                   {},
                   report.secondsRecorded};
    for (const ReportPart& part : report.parts) {
        job.parts.push_back(QFile::encodeName(part.file).toStdString());
    }
    encoders_.add(std::move(job));
}

void RecordingController::encoderOutcome(const EncoderOutcome& outcome) {
    const auto found = reports_.find(outcome.key);
    if (found == reports_.end() || outcome.part >= found->second.parts.size()) {
        return;
    }
    RecordingReport& report = found->second;
    ReportPart& part = report.parts[outcome.part];
    part.encoder = outcome.state;
    part.exitCode = outcome.exitCode;
    part.encoderText = outcome.text;
    // The WAV may be gone (moved, or deleted by the encoder itself); its report goes with it.
    if (QFileInfo::exists(QFileInfo(outcome.key).path())) {
        writeReport(outcome.key, report);
    }
    if (!outcome.text.isEmpty()) {
        // A running recording keeps its line; the notification tells it either way.
        if (!isRecording()) {
            widgets_.status->setText(outcome.text);
        }
        notify(outcome.text, part.file);
    }
    const bool done =
        std::all_of(report.parts.begin(), report.parts.end(), [](const ReportPart& p) {
            return p.encoder == EncoderState::Made || p.encoder == EncoderState::Failed;
        });
    if (done) {
        reports_.erase(found);
    }
}

std::optional<RecordingReport> RecordingController::reportSoFar() const {
    if (!isRecording()) {
        return std::nullopt;
    }
    RecordingSession session = *session_;
    session.endedAt = clock_();
    return reportOf(session, lastStatus_);
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
    if (session_ && !session_->recordedName().isEmpty()) {
        return session_->recordedName();
    }
    return sources_ ? QString::fromStdString(sources_->selectedSourceName()) : QString();
}

void RecordingController::applySourceSelection() {
    if (sources_) {
        sources_->applySourceSelection();
    }
}

} // namespace kelvo
