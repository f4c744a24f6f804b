#include "recorder/shows/show_file.h"
#include "recorder/shows/show_settings.h"
#include "recorder/shows/window_placement.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kelvo {
namespace {

// What loading a file changes, setting by setting in the loading order, on a show that holds
// none of the values a file can give.
std::string applied(const std::string& fileBytes) {
    ShowRecord before;
    before.startTime = before.stopTime = {-1, -1, -1};
    before.outputFormat = before.sampleRate = before.mp3Quality = before.channels =
        before.sourceName = before.webcastAddress = before.wmaQuality = "\x01";
    before.windowLeft = before.windowTop = -0.25f;
    before.inputLevel = -1;
    before.weekdays.fill(-1);
    const ShowListEntries lists{{"Windows Wave (WAV)", "MPEG Layer 3 (MP3)"},
                                {"22 kHz", "44.1 kHz (CD)"},
                                {"64 Kb/sec"},
                                {"1", "2"}};
    const auto content = readShowFile(fileBytes);
    const ShowRecord r = content.record ? mergedShowRecord(before, *content.record, lists) : before;
    std::string calls;
    const auto log = [&calls](bool changed, const std::string& call) {
        if (changed)
            calls += call + "|";
    };
    const auto whole = [](float twips) { return std::to_string(std::llround(twips)); };
    log(r.startTime != before.startTime, "start " + formatShowTime(r.startTime));
    log(r.stopTime != before.stopTime, "stop " + formatShowTime(r.stopTime));
    log(r.outputFormat != before.outputFormat, "format " + r.outputFormat);
    log(r.mp3Quality != before.mp3Quality, "mp3 " + r.mp3Quality);
    log(r.sampleRate != before.sampleRate, "rate " + r.sampleRate);
    log(r.channels != before.channels, "channels " + r.channels);
    const bool left = r.windowLeft != before.windowLeft, top = r.windowTop != before.windowTop;
    log(left || top,
        "move " + (left ? whole(r.windowLeft) : "-") + " " + (top ? whole(r.windowTop) : "-"));
    log(r.webcastAddress != before.webcastAddress, "webcast " + r.webcastAddress);
    log(r.inputLevel != before.inputLevel, "level " + std::to_string(r.inputLevel));
    log(r.wmaQuality != before.wmaQuality, "wma " + r.wmaQuality);
    log(r.sourceName != before.sourceName, "source " + r.sourceName);
    for (std::size_t day = 0; day < r.weekdays.size(); ++day)
        log(r.weekdays[day] != before.weekdays[day],
            "day " + std::to_string(day) + (r.weekdays[day] == 1 ? "" : " off"));
    return calls;
}

const std::string kDefaultLine = "\"1:00:00 AM\",\"5:00:00 AM\",\"Windows Wave (WAV)\","
                                 "\"44.1 kHz (CD)\",\"64 Kb/sec\",\"2\",1200,900,\"Microphone\","
                                 "50,\"\",\"\",1,1,1,1,1,1,1\r\n";
const std::string kDefaultCalls =
    "start 1:00:00 AM|stop 5:00:00 AM|format Windows Wave (WAV)|mp3 64 Kb/sec|rate 44.1 kHz "
    "(CD)|channels 2|move 1200 900|webcast |level 50|wma |source Microphone|day 0|day 1|day 2|"
    "day 3|day 4|day 5|day 6|";

// The default line with one field's text replaced.
std::string withField(int field, const std::string& text) {
    std::string line = kDefaultLine;
    std::size_t start = 0;
    for (int i = 0; i < field; ++i)
        start = line.find(',', start) + 1;
    return line.replace(start, line.find_first_of(",\r", start) - start, text);
}

TEST(ShowFile, DefaultSettingsAreWrittenByteForByteAndRecordsLoadBack) {
    ShowRecord r;
    r.windowLeft = 1200;
    r.windowTop = 900;
    r.sourceName = "Microphone";
    EXPECT_EQ(writeShowRecord(r), kDefaultLine);
    EXPECT_EQ(applied(kDefaultLine), kDefaultCalls);

    r.startTime = {0, 0, 0};
    r.stopTime = {23, 59, 59};
    r.windowLeft = 1500.5f;
    r.windowTop = -123456789.0f;
    r.sourceName = "Mic \"A\",B"; // a quote would end the text and shift every field after it
    r.wmaQuality = "WMA 9 High";
    r.weekdays[0] = 0;
    // Seven significant digits, never an exponent; read back whole, halves to even.
    const std::string line = writeShowRecord(r);
    EXPECT_NE(line.find(",1500.5,-123456800,"), std::string::npos) << line;
    EXPECT_EQ(applied(line), "start 12:00:00 AM|stop 11:59:59 PM|format Windows Wave (WAV)|mp3 64 "
                             "Kb/sec|rate 44.1 kHz (CD)|channels 2|move 1500 -123456800|webcast "
                             "|level 50|wma WMA 9 High|source Mic 'A',B|day 0 off|day 1|day 2|day "
                             "3|day 4|day 5|day 6|");
}

// Whatever a file holds, the fields that convert apply and the rest leave the setting alone.
TEST(ShowFile, BadFilesApplyOnlyWhatConverts) {
    const std::string next = withField(8, "\"Line In\"");
    const struct {
        std::string file, from, to;
    } rows[] = {
        {kDefaultLine + "\r\n  " + next + "\r\n\r\n", "source Microphone", "source Line In"},
        {kDefaultLine + next.substr(0, next.find("Line") + 2), "", ""}, // ends inside a record
        {kDefaultLine + next.substr(0, next.size() - 3), "", ""},
        {next.substr(0, next.size() - 3), kDefaultCalls, ""},
        {" \r\n\r\n", kDefaultCalls, ""},
        {withField(0, "\"25:00:00\""), "start 1:00:00 AM|", ""},
        {withField(0, "  \"1:00:00 AM\"junk"), "", ""},
        {withField(1, " 13:05 "), "stop 5:00:00 AM", "stop 1:05:00 PM"},
        // Not an entry of its list: the setting stays.
        {withField(2, " Ogg "), "format Windows Wave (WAV)|", ""},
        {withField(3, "\"a\r\nb\""), "rate 44.1 kHz (CD)|", ""},
        {withField(3, "\"22 kHz\""), "rate 44.1 kHz (CD)", "rate 22 kHz"},
        {withField(6, "left"), "move 1200 900", "move - 900"},
        {withField(7, "1e400"), "move 1200 900", "move 1200 -"},
        {withField(6, "1e12"), "move 1200 900", "move 2147483648 900"}, // as a float
        {withField(7, "-3e9"), "move 1200 900", "move 1200 -2147483648"},
        {withField(9, "1e10"), "level 50|", ""},
        {withField(9, "101"), "level 50|", ""},
        {withField(13, "2"), "day 1|", ""},
        {withField(14, "40000"), "day 2|", ""}, // beyond 16 bits
        {withField(15, "0.5"), "day 3", "day 3 off"},
        {withField(16, "\"0\""), "day 4", "day 4 off"},
        {withField(8, "\"Caf\xE9 \x80\""), "Microphone", "Caf\u00e9 \u20ac"}, // Windows-1252
        {withField(8, "\"\xC0\xAF\""), "Microphone", "\u00c0\u00af"},         // overlong: not UTF-8
        {"\xEF\xBB\xBF" + kDefaultLine, "", ""},
    };
    for (const auto& row : rows) {
        std::string expected = kDefaultCalls;
        expected.replace(expected.find(row.from), row.from.size(), row.to);
        EXPECT_EQ(applied(row.file), expected) << row.file;
    }
    for (const char* bad : {"", "noon", "24:00:00", "13:00:00 PM", "0:00:00 AM", "1:60:00",
                            "1:00:60", "1:00:00 XM", "1:00:00 AM tomorrow", "1::00", "123:00"})
        EXPECT_FALSE(parseShowTime(bad).has_value()) << bad;
}

// A CR or LF in a text would end the record early: the next load would see half a show.
TEST(ShowFile, ControlCharactersInAnyTextFieldNeverSplitTheRecord) {
    const std::string dirty = "a\r\nb\n\tc\x7F\x01";
    using Loaded = LoadedShowRecord;
    const std::tuple<std::string ShowRecord::*, std::optional<std::string> Loaded::*, int> texts[] =
        {{&ShowRecord::outputFormat, &Loaded::outputFormat, 2},
         {&ShowRecord::sampleRate, &Loaded::sampleRate, 3},
         {&ShowRecord::mp3Quality, &Loaded::mp3Quality, 4},
         {&ShowRecord::channels, &Loaded::channels, 5},
         {&ShowRecord::sourceName, &Loaded::sourceName, 8},
         {&ShowRecord::webcastAddress, &Loaded::webcastAddress, 10},
         {&ShowRecord::wmaQuality, &Loaded::wmaQuality, 11}};
    for (const auto& [member, loaded, field] : texts) {
        ShowRecord r;
        r.*member = dirty;
        const std::string line = writeShowRecord(r);
        EXPECT_EQ(line.find_first_of("\r\n\t\x7F\x01"), line.size() - 2) << line;
        // Written by us, and as a file from elsewhere may hold it: raw inside the quotes.
        for (const std::string& file : {line, withField(field, "\"" + dirty + "\"")}) {
            const auto read = readShowFile(file);
            ASSERT_TRUE(read.record) << field;
            EXPECT_EQ(read.completeRecords, 1);
            EXPECT_EQ(*read.record.*loaded, "abc") << field;
        }
    }
}

TEST(WindowPlacement, WindowComesBackWhereItsTitleCanBeGrabbedElseOntoTheNearestScreen) {
    EXPECT_EQ(twipsToPixels(22500), 1500);
    EXPECT_EQ(twipsToPixels(-8), -1);
    EXPECT_EQ(twipsToPixels(2400, 144), 240); // a screen at 150 %
    EXPECT_EQ(twipsToPixels(15, 48), 0);      // halves to even
    EXPECT_EQ(twipsToPixels(45, 48), 2);
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 2560, 1440)};
    for (auto [wanted, placed] : {std::pair{QPoint(100, 100), QPoint(100, 100)},
                                  {{4000, 1200}, {4000, 1200}},
                                  {{-100, 10}, {-100, 10}},         // enough of the title left
                                  {{9000, 300}, {4480 - 166, 300}}, // a wider desktop saved it
                                  {{-5000, -5000}, {0, 0}},
                                  {{500, -10}, {500, 0}}, // title above the top
                                  {{100, 1200}, {100, 1080 - 130}}})
        EXPECT_EQ(reachableWindowPosition(wanted, {166, 130}, screens), placed) << wanted.x();
    EXPECT_EQ(reachableWindowPosition({3000, 3000}, {900, 700}, {QRect(0, 0, 800, 600)}),
              QPoint(0, 0));
    EXPECT_EQ(reachableWindowPosition({3000, 3000}, {166, 130}, {}), QPoint(3000, 3000));
}

} // namespace
} // namespace kelvo
