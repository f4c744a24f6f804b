#include "recorder/recording/format_lists.h"

#include <array>
#include <utility>

namespace kelvo {

namespace {

const std::array<std::pair<const char*, int>, 6> kSampleRates{{{"8 kHz", 8000},
                                                               {"11 kHz", 11000},
                                                               {"22 kHz", 22000},
                                                               {"32 kHz", 32000},
                                                               {"44.1 kHz (CD)", 44100},
                                                               {"48 kHz", 48000}}};

bool tooSlowForMp3(const QString& sampleRate) {
    return sampleRate == QLatin1String("8 kHz") || sampleRate == QLatin1String("11 kHz") ||
           sampleRate == QLatin1String("22 kHz");
}

} // namespace

QStringList sampleRateEntries() {
    QStringList entries;
    for (const auto& [text, rate] : kSampleRates) {
        entries << QString::fromLatin1(text);
    }
    return entries;
}

QStringList channelEntries() {
    return {QStringLiteral("1"), QStringLiteral("2")};
}

QStringList outputFormatEntries() {
    return {formats::kWav, formats::kMp3};
}

QStringList mp3QualityEntries() {
    QStringList entries;
    for (int rate : {16, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}) {
        entries << QStringLiteral("%1 Kb/sec").arg(rate);
    }
    return entries;
}

int sampleRateOf(const QString& entry) {
    for (const auto& [text, rate] : kSampleRates) {
        if (entry == QLatin1String(text)) {
            return rate;
        }
    }
    return 0;
}

int channelsOf(const QString& entry) {
    return entry == QLatin1String("2") ? 2 : 1;
}

void updateFormatDependentLists(const FormatLists& lists) {
    if (tooSlowForMp3(lists.sampleRate->currentText())) {
        lists.outputFormat->setEnabled(false);
        lists.mp3Quality->setEnabled(false);
        if (lists.outputFormat->currentText() != formats::kWav) {
            lists.outputFormat->setCurrentText(formats::kWav);
        }
    } else {
        lists.outputFormat->setEnabled(true);
    }

    // Read again: the step above may have switched the format.
    const QString format = lists.outputFormat->currentText();
    if (format == formats::kWma) {
        lists.mp3Quality->setEnabled(false);
        lists.wmaQuality->setEnabled(true);
    } else if (format == formats::kMp3) {
        lists.mp3Quality->setEnabled(true);
        lists.wmaQuality->setEnabled(false);
    } else if (format == formats::kWav) {
        lists.mp3Quality->setEnabled(false);
        lists.wmaQuality->setEnabled(false);
    }
}

} // namespace kelvo
