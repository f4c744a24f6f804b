#include "recorder/schedule/show_folder_schedules.h"

#include "recorder/platform/atomic_file.h"
#include "recorder/shows/show_file.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kelvo {
namespace {

namespace fs = std::filesystem;

std::string record(const char* start, const char* stop, const char* weekdays) {
    return std::string("\"") + start + "\",\"" + stop +
           "\",\"Windows Wave (WAV)\",\"44.1 kHz (CD)\",\"64 Kb/sec\",\"2\",0,0,\"Line "
           "In\",50,\"\",\"\"," +
           weekdays + "\r\n";
}

TEST(ScheduleOfShow, TakesTheTimesAndOnlyWeekdaysStoredAsOne) {
    struct Case {
        const char* what;
        std::string file;
        std::optional<Schedule> expected;
    };
    const Case cases[] = {
        {"a full record", record("6:00:00 PM", "6:30:00 PM", "0,1,1,1,1,1,0"),
         Schedule{{18, 0, 0}, {18, 30, 0}, {false, true, true, true, true, true, false}, {}}},
        {"a partly checked or odd box is unchecked",
         record("1:00:00 AM", "2:00:00 AM", "2,1,-1,1,x,1,1"),
         Schedule{{1, 0, 0}, {2, 0, 0}, {false, true, false, true, false, true, true}, {}}},
        {"an unreadable stop never stops", record("1:00:00 AM", "soon", "1,1,1,1,1,1,1"),
         Schedule{{1, 0, 0}, {-1, -1, -1}, {true, true, true, true, true, true, true}, {}}},
        {"an unreadable start is no schedule", record("later", "2:00:00 AM", "1,1,1,1,1,1,1"),
         std::nullopt},
        {"an empty file is no schedule", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ShowFileContent content = readShowFile(c.file);
        const auto schedule = content.record ? scheduleOfShow(*content.record) : std::nullopt;
        ASSERT_EQ(schedule.has_value(), c.expected.has_value());
        if (schedule) {
            EXPECT_EQ(schedule->start, c.expected->start);
            EXPECT_EQ(schedule->stop, c.expected->stop);
            EXPECT_EQ(schedule->weekdays, c.expected->weekdays);
        }
    }
}

class ShowFolder : public ::testing::Test {
protected:
    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary | std::ios::trunc) << bytes;
    }
    // Waits for the watcher to report a change that makes `check` true.
    bool becomes(const std::function<bool()>& check) {
        return QTest::qWaitFor([&] { return check(); }, 5000);
    }
    std::optional<TimeOfDay> startOf(const std::string& name) const {
        const auto all = shows.schedules();
        const auto it = all.find(name);
        return it == all.end() ? std::nullopt : std::optional<TimeOfDay>(it->second.start);
    }

    int argc = 1;
    char program[16] = "schedule_tests";
    char* argv[2] = {program, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir dir;
    fs::path folder = fs::path(dir.path().toStdString()) / "configurations";
    ShowFolderSchedules shows{folder};
};

TEST_F(ShowFolder, FollowsSavesEditsNewAndDeletedFilesWithoutReReadingTheRest) {
    fs::create_directories(folder);
    write("Morning", record("6:00:00 AM", "7:00:00 AM", "1,1,1,1,1,1,1"));
    write("Empty", "");
    write("Quoted \"Show\"", record("1:00:00 AM", "2:00:00 AM", "1,1,1,1,1,1,1"));
    write(std::string(kTemporaryFilePrefix).append("123-4"),
          record("1:00:00 AM", "2:00:00 AM", "1,1,1,1,1,1,1"));
    EXPECT_TRUE(shows.schedules().empty()) << "nothing is read before watching";

    QSignalSpy changes(&shows, &ShowFolderSchedules::changed);
    shows.setWatching(true);
    ASSERT_EQ(shows.schedules().size(), 1u)
        << "an empty file, a save in progress and an unloadable name are no shows";
    EXPECT_EQ(startOf("Morning"), (TimeOfDay{6, 0, 0}));

    // Edited in place, as a text editor may do.
    write("Morning", record("10:00:00 AM", "11:00:00 AM", "1,1,1,1,1,1,1"));
    EXPECT_TRUE(becomes([&] { return startOf("Morning") == TimeOfDay{10, 0, 0}; }));

    // Saved by the recorder: a new file renamed over the old one, whose watch ends with it.
    ASSERT_FALSE(replaceFileAtomically(folder / "Morning",
                                       record("11:00:00 AM", "11:30:00 AM", "1,1,1,1,1,1,1")));
    EXPECT_TRUE(becomes([&] { return startOf("Morning") == TimeOfDay{11, 0, 0}; }));
    write("Morning", record("9:00:00 PM", "9:30:00 PM", "1,1,1,1,1,1,1"));
    EXPECT_TRUE(becomes([&] {
        return startOf("Morning") == TimeOfDay{21, 0, 0};
    })) << "the replaced file is watched too";

    write("Evening Show", record("6:00:00 PM", "7:00:00 PM", "0,0,1,0,0,0,0"));
    EXPECT_TRUE(becomes([&] { return startOf("Evening Show").has_value(); }));
    fs::remove(folder / "Morning");
    EXPECT_TRUE(becomes([&] { return !startOf("Morning"); }));
    EXPECT_GE(changes.count(), 5);

    shows.setWatching(false);
    EXPECT_TRUE(shows.schedules().empty());
    write("Late", record("11:00:00 PM", "11:30:00 PM", "1,1,1,1,1,1,1"));
    QTest::qWait(200);
    EXPECT_TRUE(shows.schedules().empty()) << "not watching reads nothing";
}

TEST_F(ShowFolder, AFolderMadeAfterWatchingBeganIsPickedUpOnTheNextRead) {
    shows.setWatching(true);
    EXPECT_TRUE(shows.schedules().empty());
    fs::create_directories(folder);
    write("Morning", record("6:00:00 AM", "7:00:00 AM", "1,1,1,1,1,1,1"));
    shows.rescan();
    write("Noon", record("12:00:00 PM", "1:00:00 PM", "1,1,1,1,1,1,1"));
    EXPECT_TRUE(becomes([&] { return startOf("Noon").has_value(); }));
    EXPECT_TRUE(startOf("Morning").has_value());
}

} // namespace
} // namespace kelvo
