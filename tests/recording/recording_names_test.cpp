#include "recorder/recording/encoder_launcher.h"
#include "recorder/recording/format_lists.h"
#include "recorder/recording/recording_names.h"

#include <gtest/gtest.h>

#include <QComboBox>

namespace kelvo {
namespace {

QDateTime at(int year, int month, int day, int hour, int minute, int second) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

TEST(RecordingNames, CarryTheShowAndTheStartInMonthDayYearOrder) {
    EXPECT_EQ(recordingFileName("Default", at(2004, 3, 5, 21, 7, 9)),
              "soundfiles/Default-03-05-04-21-07-09.wav");
    EXPECT_EQ(recordingFilePath("/opt/kelvo", "soundfiles/Default-03-05-04-21-07-09.wav"),
              "/opt/kelvo/soundfiles/Default-03-05-04-21-07-09.wav");
}

TEST(RecordingNames, MidnightIsHourZeroAndNoonIsTwelve) {
    EXPECT_EQ(recordingFileName("Night", at(2023, 12, 31, 0, 0, 5)),
              "soundfiles/Night-12-31-23-00-00-05.wav");
    EXPECT_EQ(recordingFileName("Noon", at(2010, 1, 2, 12, 30, 0)),
              "soundfiles/Noon-01-02-10-12-30-00.wav");
}

TEST(RecordingNames, UseTheShowNameVerbatimAndDefaultForNone) {
    const QDateTime t = at(2004, 3, 5, 21, 7, 9);
    EXPECT_EQ(recordingFileName("Morning Show.cia", t),
              "soundfiles/Morning Show.cia-03-05-04-21-07-09.wav");
    EXPECT_EQ(recordingFileName("", t), "soundfiles/Default-03-05-04-21-07-09.wav");
}

TEST(EncoderBitRate, IsTheQualityBeforeItsFirstBlankOrTheWholeTextWithoutOne) {
    EXPECT_EQ(bitRateOf("64 Kb/sec"), "64");
    EXPECT_EQ(bitRateOf("320 Kb/sec"), "320");
    EXPECT_EQ(bitRateOf("16 Kb/sec"), "16");
    EXPECT_EQ(bitRateOf("128"), "128");
    EXPECT_EQ(bitRateOf(""), "");
}

// Wired as the window wires them: every change of either list runs the rule.
class FormatListsTest : public ::testing::Test {
protected:
    FormatListsTest() {
        sampleRate.addItems(sampleRateEntries());
        outputFormat.addItems(outputFormatEntries());
        outputFormat.addItem(formats::kWma);
        mp3Quality.addItems(mp3QualityEntries());
        wmaQuality.setEditable(true);
        for (QComboBox* list : {&sampleRate, &outputFormat}) {
            QObject::connect(list, &QComboBox::currentTextChanged,
                             [this] { updateFormatDependentLists(lists); });
        }
    }

    QComboBox sampleRate, outputFormat, mp3Quality, wmaQuality;
    FormatLists lists{&sampleRate, &outputFormat, &mp3Quality, &wmaQuality};
};

TEST_F(FormatListsTest, LowSampleRateForcesWavAndLocksTheFormatLists) {
    sampleRate.setCurrentText("44.1 kHz (CD)");
    outputFormat.setCurrentText(formats::kMp3);
    EXPECT_TRUE(mp3Quality.isEnabled());
    EXPECT_FALSE(wmaQuality.isEnabled());

    sampleRate.setCurrentText("22 kHz");
    EXPECT_EQ(outputFormat.currentText(), formats::kWav);
    EXPECT_FALSE(outputFormat.isEnabled());
    EXPECT_FALSE(mp3Quality.isEnabled());

    sampleRate.setCurrentText("32 kHz");
    EXPECT_TRUE(outputFormat.isEnabled());
    EXPECT_FALSE(mp3Quality.isEnabled()) << "stays off until MP3 is chosen again";
    outputFormat.setCurrentText(formats::kMp3);
    EXPECT_TRUE(mp3Quality.isEnabled());
    outputFormat.setCurrentText(formats::kWma);
    EXPECT_FALSE(mp3Quality.isEnabled());
    EXPECT_TRUE(wmaQuality.isEnabled());
}

} // namespace
} // namespace kelvo
