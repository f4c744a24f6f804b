#include "recorder/shows/show_file.h"
#include "recorder/shows/text_encoding.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

const std::string kDefaultLine = "\"1:00:00 AM\",\"5:00:00 AM\",\"Windows Wave (WAV)\","
                                 "\"44.1 kHz (CD)\",\"64 Kb/sec\",\"2\",1200,900,\"Microphone\","
                                 "50,\"\",\"\",1,1,1,1,1,1,1\r\n";

ShowRecord defaultSettings() {
    ShowRecord r;
    r.windowLeft = 1200;
    r.windowTop = 900;
    r.sourceName = "Microphone";
    return r;
}

LoadedShowRecord readOne(const std::string& bytes) {
    const auto content = readShowFile(bytes);
    EXPECT_TRUE(content.record.has_value()) << bytes;
    return content.record.value_or(LoadedShowRecord{});
}

TEST(ShowFile, DefaultSettingsAreWrittenByteForByte) {
    EXPECT_EQ(writeShowRecord(defaultSettings()), kDefaultLine);
}

TEST(ShowFile, WrittenRecordReadsBackUnchanged) {
    ShowRecord r;
    r.startTime = {0, 0, 0};
    r.stopTime = {23, 59, 59};
    r.outputFormat = "MPEG Layer 3 (MP3)";
    r.sampleRate = "8 kHz";
    r.mp3Quality = "320 Kb/sec";
    r.channels = "1";
    r.windowLeft = -1500;
    r.windowTop = 40000;
    r.sourceName = "Monitor of Speakers, Café";
    r.inputLevel = 0;
    r.webcastAddress = "http://radio.example/live?a=1,b=2";
    r.wmaQuality = "High";
    r.weekdays = {0, 1, 0, 1, 0, 1, 0};

    const LoadedShowRecord back = readOne(writeShowRecord(r));
    EXPECT_EQ(back.startTime, r.startTime);
    EXPECT_EQ(back.stopTime, r.stopTime);
    EXPECT_EQ(back.outputFormat, r.outputFormat);
    EXPECT_EQ(back.sampleRate, r.sampleRate);
    EXPECT_EQ(back.mp3Quality, r.mp3Quality);
    EXPECT_EQ(back.channels, r.channels);
    EXPECT_EQ(back.windowLeft, -1500);
    EXPECT_EQ(back.windowTop, 40000); // beyond 16 bits, kept for the screen clamp to judge
    EXPECT_EQ(back.sourceName, r.sourceName);
    EXPECT_EQ(back.inputLevel, 0);
    EXPECT_EQ(back.webcastAddress, r.webcastAddress);
    EXPECT_EQ(back.wmaQuality, "High");
    for (int day = 0; day < kWeekdays; ++day)
        EXPECT_EQ(back.weekdays[day], r.weekdays[day]);
}

TEST(ShowFile, FractionalPositionIsWrittenWithItsFractionAndReadBackWhole) {
    ShowRecord r = defaultSettings();
    r.windowLeft = 1500.5f;
    r.windowTop = 1501.5f;
    const std::string line = writeShowRecord(r);
    EXPECT_NE(line.find(",1500.5,1501.5,"), std::string::npos) << line;
    const LoadedShowRecord back = readOne(line);
    EXPECT_EQ(back.windowLeft, 1500); // halves to even
    EXPECT_EQ(back.windowTop, 1502);
}

TEST(ShowFile, NumbersHaveAtMostSevenDigitsAndNeverAnExponent) {
    EXPECT_EQ(formatShowNumber(0.0f), "0");
    EXPECT_EQ(formatShowNumber(-0.0f), "0");
    EXPECT_EQ(formatShowNumber(-15.0f), "-15");
    EXPECT_EQ(formatShowNumber(0.5f), "0.5");
    EXPECT_EQ(formatShowNumber(0.00125f), "0.00125");
    EXPECT_EQ(formatShowNumber(12345.678f), "12345.68");
    EXPECT_EQ(formatShowNumber(123456789.0f), "123456800");
    EXPECT_EQ(formatShowNumber(std::numeric_limits<float>::quiet_NaN()), "0");
}

TEST(ShowFile, TimesAreWrittenInTheTwelveHourForm) {
    EXPECT_EQ(formatShowTime({1, 0, 0}), "1:00:00 AM");
    EXPECT_EQ(formatShowTime({0, 0, 0}), "12:00:00 AM");
    EXPECT_EQ(formatShowTime({12, 30, 5}), "12:30:05 PM");
    EXPECT_EQ(formatShowTime({23, 59, 59}), "11:59:59 PM");
}

TEST(ShowFile, TimesAreReadInTwelveAndTwentyFourHourForms) {
    EXPECT_EQ(parseShowTime("1:00:00 AM"), (TimeOfDay{1, 0, 0}));
    EXPECT_EQ(parseShowTime(" 01:00:00 am "), (TimeOfDay{1, 0, 0}));
    EXPECT_EQ(parseShowTime("12:00:00 AM"), (TimeOfDay{0, 0, 0}));
    EXPECT_EQ(parseShowTime("12:15:00 PM"), (TimeOfDay{12, 15, 0}));
    EXPECT_EQ(parseShowTime("13:05:00"), (TimeOfDay{13, 5, 0}));
    EXPECT_EQ(parseShowTime("9:30"), (TimeOfDay{9, 30, 0}));
    for (const char* bad : {"", "noon", "24:00:00", "13:00:00 PM", "0:00:00 AM", "1:60:00",
                            "1:00:60", "1:00:00 XM", "1:00:00 AM tomorrow", "1::00", "123:00"})
        EXPECT_FALSE(parseShowTime(bad).has_value()) << bad;
}

TEST(ShowFile, LastOfSeveralRecordsCounts) {
    ShowRecord second = defaultSettings();
    second.sourceName = "Line In";
    const auto content =
        readShowFile(kDefaultLine + "\r\n  " + writeShowRecord(second) + "\r\n\r\n");
    EXPECT_EQ(content.completeRecords, 2);
    EXPECT_FALSE(content.endsInsideRecord);
    EXPECT_EQ(content.record->sourceName, "Line In");
}

TEST(ShowFile, RecordEndingEarlyIsLeftOutAndAnEarlierOneStillCounts) {
    ShowRecord second = defaultSettings();
    second.sourceName = "Line In";
    const std::string full = writeShowRecord(second);
    // Cut after a comma, inside a quoted text, and before the last field.
    for (const std::size_t cut : {std::size_t{10}, full.find("Line") + 2, full.size() - 3}) {
        const auto content = readShowFile(kDefaultLine + full.substr(0, cut));
        EXPECT_TRUE(content.endsInsideRecord) << cut;
        EXPECT_EQ(content.completeRecords, 1);
        EXPECT_EQ(content.record->sourceName, "Microphone");
    }
    EXPECT_FALSE(readShowFile(full.substr(0, full.size() - 3)).record.has_value());
    EXPECT_FALSE(readShowFile(" \r\n\r\n").record.has_value());
}

TEST(ShowFile, FieldsThatDoNotConvertAreLeftOutAndTheRestApplies) {
    const LoadedShowRecord r = readOne(
        "\"25:00:00\",\"5:00:00 AM\",\"Ogg\",\"44.1 kHz (CD)\",\"64 Kb/sec\",\"2\",left,1e400,"
        "\"Microphone\",1e10,\"\",\"\",1,x,40000,-1,0.5,1.5,\"1\"\r\n");
    EXPECT_FALSE(r.startTime);
    EXPECT_EQ(r.stopTime, (TimeOfDay{5, 0, 0}));
    EXPECT_EQ(r.outputFormat, "Ogg"); // not an entry: the list keeps its value when applied
    EXPECT_FALSE(r.windowLeft);
    EXPECT_FALSE(r.windowTop);
    EXPECT_FALSE(r.inputLevel);
    EXPECT_EQ(r.weekdays[0], 1);
    EXPECT_FALSE(r.weekdays[1]);
    EXPECT_FALSE(r.weekdays[2]); // beyond 16 bits
    EXPECT_EQ(r.weekdays[3], -1);
    EXPECT_EQ(r.weekdays[4], 0); // halves to even
    EXPECT_EQ(r.weekdays[5], 2);
    EXPECT_EQ(r.weekdays[6], 1); // a quoted number still converts
}

TEST(ShowFile, PositionsFarBeyondAnyScreenAreClampedNotLost) {
    const LoadedShowRecord r = readOne("\"1:00:00 AM\",\"5:00:00 AM\",\"a\",\"b\",\"c\",\"2\","
                                       "1e12,-3e9,\"\",50,\"\",\"\",1,1,1,1,1,1,1");
    EXPECT_EQ(r.windowLeft, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(r.windowTop, -std::numeric_limits<std::int32_t>::max());
}

TEST(ShowFile, QuotedFieldEndsAtItsQuoteAndUnquotedFieldsAreTrimmed) {
    const LoadedShowRecord r = readOne("  \"1:00:00 AM\"junk,\"5:00:00 AM\"  ,Windows Wave (WAV) ,"
                                       "\"a\r\nb\",c,\"2\",+15,  -30 ,Mic\r\n"
                                       "50,\"\",\"\",1,1,1,1,1,1,1");
    EXPECT_EQ(r.startTime, (TimeOfDay{1, 0, 0}));
    EXPECT_EQ(r.outputFormat, "Windows Wave (WAV)");
    EXPECT_EQ(r.sampleRate, "a\r\nb");
    EXPECT_EQ(r.mp3Quality, "c");
    EXPECT_EQ(r.windowLeft, 15);
    EXPECT_EQ(r.windowTop, -30);
    EXPECT_EQ(r.sourceName, "Mic");
    EXPECT_EQ(r.inputLevel, 50); // the record went on past the line end
}

TEST(ShowFile, QuoteInsideATextCannotShiftTheFieldsAfterIt) {
    ShowRecord r = defaultSettings();
    r.sourceName = "Mic \"A\",B";
    const LoadedShowRecord back = readOne(writeShowRecord(r));
    EXPECT_EQ(back.sourceName, "Mic 'A',B");
    EXPECT_EQ(back.inputLevel, 50);
    EXPECT_EQ(back.weekdays[6], 1);
}

TEST(ShowFile, FileThatIsNotUtf8IsReadAsTheWindowsCodePage) {
    const LoadedShowRecord r = readOne("\"1:00:00 AM\",\"5:00:00 AM\",\"a\",\"b\",\"c\",\"2\",0,0,"
                                       "\"Caf\xE9 \x80\",50,\"\",\"\",1,1,1,1,1,1,1\r\n");
    EXPECT_EQ(r.sourceName, "Caf\u00e9 \u20ac");
}

TEST(TextEncoding, OnlyStrictUtf8PassesUnchanged) {
    EXPECT_TRUE(isValidUtf8("Caf\xC3\xA9 \xF0\x9F\x8E\x99"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));         // cut short
    EXPECT_EQ(showFileText("\xEF\xBB\xBFok"), "ok");
    EXPECT_EQ(showFileText("\xE9\x81"), "\u00e9\u0081");
}

} // namespace
} // namespace kelvo
