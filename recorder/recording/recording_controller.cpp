#include "recorder/recording/recording_controller.h"

#include "recorder/recording/encoder_launcher.h"
#include "recorder/recording/engine_library.h"
#include "recorder/recording/webcast_opener.h"

#include <QColor>
#include <QFile>
#include <QPalette>

#include <utility>

namespace kelvo {

namespace {

const QColor kIdleBlue(0, 0, 255);
const QColor kRecordingRed(255, 0, 0);
const QColor kBlinkDarkRed(127, 0, 0);

void enable(QTimer* timer) {
    // Enabling a running timer must not restart its period.
    if (!timer->isActive()) {
        timer->start();
    }
}

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

QString engineMissingMessage(const std::string& reason) {
    return QStringLiteral("The capture engine %1 could not be loaded, so nothing can be "
                          "recorded.\n\n%2")
        .arg(QString::fromLatin1(EngineLibrary::kLibraryName), QString::fromStdString(reason));
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
      messages_(std::move(messages)), clock_(std::move(clock)), setup_(std::move(setup)) {
    widgets_.status->setText(QStringLiteral("Idle"));
    setColour(kIdleBlue);
    for (QTimer* timer :
         {widgets_.blink, widgets_.meterPoll, widgets_.leftPeakHold, widgets_.rightPeakHold}) {
        timer->stop();
    }
}

void RecordingController::startRecording() {
    // A failing start shows a modal message; the schedule's clock keeps ticking meanwhile
    // and must not start a second recording on top of this one.
    if (starting_) {
        return;
    }
    if (!isRecording()) {
        FlagGuard guard(starting_);
        state_.webcastAddress = widgets_.webcast->text();
        if (hooks_.holdWebcastAddress) {
            hooks_.holdWebcastAddress(state_.webcastAddress);
        }
        readRecordingSettings();
        prepareSourceAndMeters();
        state_.fileName = recordingFileName(
            hooks_.currentShowName ? hooks_.currentShowName() : QString(), clock_());
        state_.filePath = recordingFilePath(setup_.dataFolder, state_.fileName);
        if (!startEngine()) {
            return; // nothing records, so nothing may claim to
        }
        enterRecording();
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
    const int initialized = engine_.initialize();
    if (initialized == CaptureEngine::kEngineUnavailable) {
        messages_(engineMissingMessage(engine_.loadError()));
        return false;
    }
    if (initialized != 0) {
        messages_(kEngineMessage);
        return false;
    }
    const QByteArray path = QFile::encodeName(state_.filePath);
    if (engine_.startMonitor(1, static_cast<std::uint32_t>(state_.channels),
                             static_cast<std::uint32_t>(state_.sampleRate),
                             path.toStdString()) != 0) {
        messages_(kEngineMessage);
        return false;
    }
    return true;
}

void RecordingController::enterRecording() {
    setRecordingState(1);
    setColour(kRecordingRed);
    if (state_.webcastAddress.isEmpty()) {
        widgets_.status->setText(QStringLiteral("Rec: ") + sourceName());
        return;
    }
    widgets_.status->setText(QStringLiteral("Rec WebCast: ") + sourceName());
    // Opened after the engine runs, so the webcast's beginning lands in the file.
    const std::string address = state_.webcastAddress.toStdString();
    if (const auto refusal = webcastAddressError(address)) {
        messages_(QString::fromStdString(*refusal));
        return;
    }
    openWebcastAddress(launcher_, address);
}

void RecordingController::enableRecordingTimers() {
    enable(widgets_.blink);
    enable(widgets_.rightPeakHold);
    enable(widgets_.leftPeakHold);
    enable(widgets_.meterPoll);
}

void RecordingController::stopRecording() {
    if (!isRecording()) {
        return;
    }
    engine_.stopMonitor(); // completes the WAV file; there is nothing to do about a failure
    widgets_.blink->stop();
    setColour(kIdleBlue);
    widgets_.status->setText(QStringLiteral("Idle"));
    setRecordingState(0);
    state_.paused = false;
    widgets_.meterPoll->stop();
    // The peak-hold timers keep running: they only release the hold marks.
    widgets_.monitor->setChecked(false);
    call(hooks_.clearLevelMeters);
    // The format captured at start decides, not what the list shows now.
    if (state_.outputFormat == formats::kMp3) {
        handOffToEncoder();
    }
}

void RecordingController::handOffToEncoder() {
    state_.mp3Quality = QString::fromStdString(bitRateOf(state_.mp3Quality.toStdString()));
    EncoderLauncher encoder(launcher_, QFile::encodeName(setup_.dataFolder).toStdString(),
                            setup_.encoderFolders);
    encoder.run(state_.mp3Quality.toStdString(), QFile::encodeName(state_.fileName).toStdString());
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

void RecordingController::setRecordingState(int value) {
    state_.recording = value;
    // Recording owns the engine: monitoring cannot be switched on meanwhile.
    widgets_.monitor->setEnabled(value != 1);
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
