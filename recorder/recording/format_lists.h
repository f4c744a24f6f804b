// The lists that choose what a recording produces, and which of them may be used together.
#pragma once

#include <QComboBox>
#include <QStringList>

namespace kelvo {

namespace formats {
inline const QString kWav = QStringLiteral("Windows Wave (WAV)");
inline const QString kMp3 = QStringLiteral("MPEG Layer 3 (MP3)");
inline const QString kWma = QStringLiteral("Windows Media (WMA)");
} // namespace formats

QStringList sampleRateEntries();
QStringList channelEntries();
QStringList outputFormatEntries();
QStringList mp3QualityEntries();

// Samples per second of a sample-rate entry, or 0 for a text that is not one.
int sampleRateOf(const QString& entry);
// "2" is stereo; every other text records mono.
int channelsOf(const QString& entry);

struct FormatLists {
    QComboBox* sampleRate;
    QComboBox* outputFormat;
    QComboBox* mp3Quality;
    QComboBox* wmaQuality;
};

// MP3 needs 32 kHz or more, and a quality list is usable only while its format is chosen.
// Runs when the sample rate or output format changes and after a show is loaded.
void updateFormatDependentLists(const FormatLists& lists);

} // namespace kelvo
