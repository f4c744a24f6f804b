#include "recorder/shows/show_apply.h"
#include "recorder/shows/show_file.h"
#include "recorder/shows/window_placement.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

// Writes down every call the loader makes, in order.
struct CallLog : ShowControls {
    std::string calls;
    void log(const std::string& call) { calls += call + "|"; }
    void setStartTime(TimeOfDay t) override { log("start " + formatShowTime(t)); }
    void setStopTime(TimeOfDay t) override { log("stop " + formatShowTime(t)); }
    void setOutputFormat(const std::string& s) override { log("format " + s); }
    void setMp3Quality(const std::string& s) override { log("mp3 " + s); }
    void setSampleRate(const std::string& s) override { log("rate " + s); }
    void setChannels(const std::string& s) override { log("channels " + s); }
    void moveWindow(std::optional<std::int32_t> x, std::optional<std::int32_t> y) override {
        log("move " + (x ? std::to_string(*x) : "-") + " " + (y ? std::to_string(*y) : "-"));
    }
    void setWebcastAddress(const std::string& s) override { log("webcast " + s); }
    void setInputLevel(std::int32_t level) override { log("level " + std::to_string(level)); }
    void setWmaQuality(const std::string& s) override { log("wma " + s); }
    void setSourceName(const std::string& s) override { log("source " + s); }
    void setWeekday(int d, bool on) override {
        log("day " + std::to_string(d) + (on ? "" : " off"));
    }
    void updateFormatDependentLists() override { log("update lists"); }
    void selectSourceByHeldName() override { log("select source"); }
};

std::string applied(const std::string& fileBytes) {
    CallLog controls;
    if (const auto content = readShowFile(fileBytes); content.record)
        applyShowRecord(*content.record, controls);
    return controls.calls;
}

const std::string kDefaultLine = "\"1:00:00 AM\",\"5:00:00 AM\",\"Windows Wave (WAV)\","
                                 "\"44.1 kHz (CD)\",\"64 Kb/sec\",\"2\",1200,900,\"Microphone\","
                                 "50,\"\",\"\",1,1,1,1,1,1,1\r\n";
const std::string kDefaultCalls =
    "start 1:00:00 AM|stop 5:00:00 AM|format Windows Wave (WAV)|mp3 64 Kb/sec|rate 44.1 kHz "
    "(CD)|channels 2|move 1200 900|webcast |level 50|wma |source Microphone|day 0|day 1|day 2|"
    "day 3|day 4|day 5|day 6|update lists|select source|";

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
                             "3|day 4|day 5|day 6|update lists|select source|");
}

// Whatever a file holds, the fields that convert apply and the rest leave their control alone.
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
        // Not an entry: passed on for the list to refuse.
        {withField(2, " Ogg "), "format Windows Wave (WAV)", "format Ogg"},
        {withField(3, "\"a\r\nb\""), "rate 44.1 kHz (CD)", "rate ab"},
        {withField(6, "left"), "move 1200 900", "move - 900"},
        {withField(7, "1e400"), "move 1200 900", "move 1200 -"},
        {withField(6, "1e12"), "move 1200 900", "move 2147483647 900"},
        {withField(7, "-3e9"), "move 1200 900", "move 1200 -2147483647"},
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
