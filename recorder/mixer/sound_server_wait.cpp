#include "recorder/mixer/sound_server_wait.h"

namespace kelvo {

SoundServerWait::SoundServerWait(MixerDevice& device, MixerState& state, QObject* parent)
    : QObject(parent), device_(device), state_(state) {
    timer_.setInterval(kRetryMs);
    connect(&timer_, &QTimer::timeout, this, &SoundServerWait::retry);
}

void SoundServerWait::start(MixerStartup result) {
    last_ = result;
    if (result != MixerStartup::Ready) {
        timer_.start();
    }
}

void SoundServerWait::retry() {
    if (!waiting()) {
        return;
    }
    // Quiet: the message of a failed start-up is the caller's, once it gives up waiting.
    last_ = startMixer(device_, state_, [](const std::string&, const std::string&) {});
    if (last_ != MixerStartup::Ready) {
        emit stillAway();
        return;
    }
    timer_.stop();
    emit answered();
}

} // namespace kelvo
