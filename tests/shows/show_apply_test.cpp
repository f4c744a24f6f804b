#include "recorder/shows/show_apply.h"
#include "recorder/shows/show_file.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kelvo {
namespace {

// Writes down every call, in order, as a short text.
class RecordingControls : public ShowControls {
public:
    std::vector<std::string> calls;

    void setStartTime(TimeOfDay t) override { calls.push_back("start " + formatShowTime(t)); }
    void setStopTime(TimeOfDay t) override { calls.push_back("stop " + formatShowTime(t)); }
    void setOutputFormat(const std::string& s) override { calls.push_back("format " + s); }
    void setMp3Quality(const std::string& s) override { calls.push_back("mp3 " + s); }
    void setSampleRate(const std::string& s) override { calls.push_back("rate " + s); }
    void setChannels(const std::string& s) override { calls.push_back("channels " + s); }
    void moveWindow(std::optional<std::int32_t> left, std::optional<std::int32_t> top) override {
        calls.push_back("move " + (left ? std::to_string(*left) : "-") + " " +
                        (top ? std::to_string(*top) : "-"));
    }
    void setWebcastAddress(const std::string& s) override { calls.push_back("webcast " + s); }
    void setInputLevel(std::int32_t level) override {
        calls.push_back("level " + std::to_string(level));
    }
    void setWmaQuality(const std::string& s) override { calls.push_back("wma " + s); }
    void setSourceName(const std::string& s) override { calls.push_back("source " + s); }
    void setWeekday(int day, bool checked) override {
        calls.push_back("day " + std::to_string(day) + (checked ? " on" : " off"));
    }
    void updateFormatDependentLists() override { calls.push_back("update lists"); }
    void selectSourceByHeldName() override { calls.push_back("select source"); }
};

TEST(ShowApply, FieldsReachTheControlsInTheLoadersOrder) {
    const auto content = readShowFile(
        "\"1:00:00 AM\",\"5:00:00 AM\",\"MPEG Layer 3 (MP3)\",\"48 kHz\",\"128 Kb/sec\",\"1\","
        "1500.5,900,\"Line In\",70,\"http://a\",\"WMA\",1,0,1,0,1,0,1\r\n");
    RecordingControls controls;
    applyShowRecord(*content.record, controls);
    EXPECT_EQ(controls.calls,
              (std::vector<std::string>{
                  "start 1:00:00 AM", "stop 5:00:00 AM",  "format MPEG Layer 3 (MP3)",
                  "mp3 128 Kb/sec",   "rate 48 kHz",      "channels 1",
                  "move 1500 900",    "webcast http://a", "level 70",
                  "wma WMA",          "source Line In",   "day 0 on",
                  "day 1 off",        "day 2 on",         "day 3 off",
                  "day 4 on",         "day 5 off",        "day 6 on",
                  "update lists",     "select source"}));
}

TEST(ShowApply, FieldsOutOfTheirControlsRangeLeaveTheControlAlone) {
    const auto content = readShowFile("\"late\",\"5:00:00 AM\",\"a\",\"b\",\"c\",\"2\",x,900,"
                                      "\"Mic\",101,\"\",\"\",2,-1,1,1,1,1,nope\r\n");
    RecordingControls controls;
    applyShowRecord(*content.record, controls);
    EXPECT_EQ(controls.calls,
              (std::vector<std::string>{"stop 5:00:00 AM", "format a", "mp3 c", "rate b",
                                        "channels 2", "move - 900", "webcast ", "wma ",
                                        "source Mic", "day 2 on", "day 3 on", "day 4 on",
                                        "day 5 on", "update lists", "select source"}));
}

} // namespace
} // namespace kelvo
