#include "recorder/meters/monitoring.h"

#include "recorder/meters/meter_poll.h"
#include "recorder/mixer/source_selection.h"
#include "recorder/platform/capture_engine.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QTimer>

#include <string>
#include <utility>

namespace kelvo {

namespace {

constexpr int kLimitMs = 60000;

// Monitoring only watches levels: the lowest rate in 16-bit stereo, whatever the lists show.
constexpr int kWriteFile = 0;
constexpr std::uint32_t kChannels = 2;
constexpr std::uint32_t kSampleRate = 8000;

} // namespace

Monitoring::Monitoring(CaptureEngine& engine, MeterPoll& meters, QCheckBox& monitorBox,
                       QTimer& limitTimer, SourceSelection* sources, MessageSink showMessage,
                       QObject* parent)
    : QObject(parent), engine_(engine), meters_(meters), monitorBox_(monitorBox),
      limitTimer_(limitTimer), sources_(sources), showMessage_(std::move(showMessage)) {
    if (!showMessage_) {
        showMessage_ = [this](const QString& text) {
            QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kProgramTitle), text,
                            QMessageBox::Ok, monitorBox_.window());
            box.exec();
        };
    }
    limitTimer_.setInterval(kLimitMs);
    connect(&monitorBox_, &QCheckBox::toggled, this, &Monitoring::monitorBoxChanged);
    connect(&limitTimer_, &QTimer::timeout, this, &Monitoring::limitTimerTick);
}

bool Monitoring::startMonitoring() {
    if (monitoring_) {
        return true;
    }
    if (sources_) {
        sources_->applySourceSelection();
    }
    meters_.clearLevelMeters();
    if (!startEngine()) {
        return false;
    }
    meters_.resetChannels();
    meters_.enableTimers();
    monitoring_ = true;
    return true;
}

bool Monitoring::startEngine() {
    engine_.setSource(sources_ ? sources_->chosenSourceId() : std::string());
    const int started = engine_.startCapture(kWriteFile, kChannels, kSampleRate, std::string());
    return started == 0 || reportFailure(started);
}

void Monitoring::stopMonitoring() {
    if (!monitoring_) {
        return;
    }
    meters_.disableTimers();
    const int stopped = engine_.stopMonitor();
    if (stopped != 0) {
        reportFailure(stopped);
    }
    meters_.clearLevelMeters();
    monitoring_ = false;
}

bool Monitoring::reportFailure(int result) {
    if (result == CaptureEngine::kEngineUnavailable) {
        showMessage_(engineMissingMessage(engine_.loadError()));
        return false;
    }
    showMessage_(QString::fromLatin1(kEngineBusyMessage));
    return true;
}

void Monitoring::lendEngineToRecording() {
    stopMonitoring();
    lent_ = true;
    monitorBox_.setEnabled(false);
}

void Monitoring::engineReturned() {
    lent_ = false;
    monitorBox_.setEnabled(true);
    // Its handler finds monitoring already off.
    monitorBox_.setChecked(false);
}

void Monitoring::monitorBoxChanged() {
    if (lent_) {
        return;
    }
    if (!monitorBox_.isChecked()) {
        stopMonitoring();
        return;
    }
    if (startMonitoring()) {
        limitTimer_.start();
    } else {
        // Nothing runs: a ticked box would claim otherwise. Its handler finds monitoring off.
        monitorBox_.setChecked(false);
    }
}

void Monitoring::limitTimerTick() {
    limitTimer_.stop();
    if (!lent_ && monitorBox_.isChecked()) {
        monitorBox_.setChecked(false);
    }
}

} // namespace kelvo
