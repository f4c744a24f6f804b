#include "recorder/platform/xdg_registry.h"
#include "recorder/shows/file_association.h"
#include "recorder/shows/show_drop.h"
#include "recorder/shows/show_file.h"
#include "recorder/shows/show_store.h"

#include <QMimeData>
#include <QUrl>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <ranges>
#include <sys/resource.h>

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// A fresh folder, with a blank in its path, for the program or the desktop's data.
class FolderTest : public ::testing::Test {
protected:
    ~FolderTest() override { fs::remove_all(folder); }

    const fs::path folder = [] {
        char pattern[] = "/tmp/kelvo shows XXXXXX";
        return fs::path(mkdtemp(pattern));
    }();
    const ShowStore store{folder};
    const fs::path configurations = folder / "configurations";
};
using ShowStoreTest = FolderTest;
using FileAssociation = FolderTest;

TEST_F(ShowStoreTest, FirstStartCreatesAnEmptyDefaultAndAppliesNothing) {
    const LoadedShow loaded = store.load("");
    EXPECT_EQ(loaded.caption, "Default - KelvoRecorder");
    EXPECT_FALSE(loaded.record);
    EXPECT_TRUE(loaded.problem.empty()) << loaded.problem;
    EXPECT_EQ(fs::file_size(configurations / "Default"), 0u);
    ASSERT_FALSE(store.save(loaded.showName, ShowRecord{}));
    EXPECT_EQ(readShowFile(contentOf(configurations / "Default")).completeRecords, 1);

    // The list holds show files only, sorted ignoring case.
    fs::create_directories(configurations / "a folder");
    for (const char* name : {"morning", "Evening.cia", ".~kelvo-save-1-2", "b"})
        writeFile(configurations / name, "");
    EXPECT_EQ(store.list(), (std::vector<std::string>{"b", "Default", "Evening.cia", "morning"}));
    EXPECT_FALSE(store.remove("a folder"));
}

// Settings the show file has no field for live beside it and go with the show.
TEST_F(ShowStoreTest, SettingsBesideTheFileComeBackAsSavedAndGoWithTheShow) {
    ASSERT_FALSE(store.save("Jazz", ShowRecord{}));
    EXPECT_EQ(store.loadSide("Jazz"), ShowSideSettings{}) << "none saved yet";
    ShowSideSettings side;
    side.values = {{"timeZone", "America/New_York"},
                   {"newer=setting", "dropped: it could not be read back"},
                   {"note", "a=b\r\nc"}};
    ASSERT_FALSE(store.saveSide("Jazz", side));
    EXPECT_EQ(contentOf(folder / "show-settings" / "Jazz"),
              "note=a=bc\ntimeZone=America/New_York\n");
    EXPECT_EQ(
        store.loadSide("Jazz").values,
        (std::map<std::string, std::string>{{"note", "a=bc"}, {"timeZone", "America/New_York"}}));
    EXPECT_EQ(store.list(), std::vector<std::string>{"Jazz"}) << "not a show of its own";
    EXPECT_TRUE(store.saveSide("../Jazz", side)) << "never outside its folder";

    ASSERT_TRUE(store.remove("Jazz"));
    EXPECT_FALSE(fs::exists(folder / "show-settings" / "Jazz"));
    ASSERT_FALSE(store.saveSide("Jazz", side));
    ASSERT_FALSE(store.saveSide("Jazz", {}));
    EXPECT_FALSE(fs::exists(folder / "show-settings" / "Jazz")) << "no settings, no file";
}

// The webcast's settings are read from a file anyone may edit: only our own values count.
TEST(WebcastSettings, ReadOnlyTheirOwnValuesAndLeaveDefaultsOut) {
    const std::pair<std::map<std::string, std::string>, WebcastSettings> cases[] = {
        {{}, {}},
        {{{"recordStream", "1"}, {"keepStream", "1"}, {"openEarlySeconds", "30"}},
         {true, true, 30}},
        {{{"recordStream", "yes"}, {"keepStream", "11"}, {"openEarlySeconds", "30 s"}}, {}},
        {{{"openEarlySeconds", "-30"}}, {}},
        {{{"openEarlySeconds", "301"}}, {}},
        {{{"openEarlySeconds", "300"}}, {false, false, 300}},
    };
    for (const auto& [values, expected] : cases) {
        EXPECT_EQ(webcastSettings({values}), expected) << ::testing::PrintToString(values);
    }
    ShowSideSettings side{{{"timeZone", "Europe/Oslo"}, {"recordStream", "1"}}};
    setWebcastSettings(side, {false, true, 0});
    EXPECT_EQ(side.values, (std::map<std::string, std::string>{{"keepStream", "1"},
                                                               {"timeZone", "Europe/Oslo"}}));
}

TEST_F(ShowStoreTest, FailedSaveKeepsThePreviousFileAndUnreadableShowsApplyNothing) {
    fs::create_directories(configurations / "Folder");
    writeFile(configurations / "Default", "old");
    // A file size limit makes the write fail as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit tight{16, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &tight);
    const auto error = store.save("Default", ShowRecord{});
    setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("could not be saved"), std::string::npos) << *error;
    EXPECT_EQ(contentOf(configurations / "Default"), "old");
    EXPECT_EQ(store.list(), std::vector<std::string>{"Default"}); // no temporary left

    EXPECT_FALSE(store.load("Folder").record);
    writeFile(configurations / "Huge", std::string(2 << 20, ' '));
    EXPECT_FALSE(store.load("Huge").problem.empty());
    fs::remove_all(configurations);
    writeFile(configurations, "a file where the folder should be");
    EXPECT_TRUE(store.save("Default", ShowRecord{}));
    EXPECT_FALSE(store.load("Default").problem.empty());
    EXPECT_EQ(contentOf(configurations), "a file where the folder should be");
}

TEST_F(ShowStoreTest, NamesThatAreNoFileNameAreRefusedAndWriteNothing) {
    fs::create_directories(configurations);
    for (const std::string& name :
         {""s, "."s, ".."s, "../escape"s, "a/b"s, "a\0b"s, "say \"hi\""s, std::string(300, 'x')}) {
        const auto error = showNameError(name);
        ASSERT_TRUE(error) << name;
        EXPECT_EQ(store.save(name, ShowRecord{}), error);
        EXPECT_FALSE(store.remove(name));
    }
    EXPECT_TRUE(fs::is_empty(configurations));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_FALSE(showNameError("Morning Show.cia"));
    EXPECT_EQ(store.load("../escape").showName, "Default");
}

TEST_F(ShowStoreTest, CommandLineAndDropsNameTheFileAsFoundOrElseDefault) {
    fs::create_directories(folder / "elsewhere");
    const std::string path = (folder / "elsewhere" / "Morning.cia").string();
    writeFile(path, "");
    // The shell split the path at its blanks; joined again they name the file.
    std::vector<std::string> split;
    for (const auto part : std::views::split(path, ' '))
        split.emplace_back(part.begin(), part.end());
    ASSERT_GT(split.size(), 1u);
    EXPECT_EQ(showFileFromCommandLine(split), path);
    for (const std::string& none : {"\"" + path + "\"", path + ".gone", folder.string()})
        EXPECT_EQ(showFileFromCommandLine({none}), fs::path());
    EXPECT_EQ(showFileFromCommandLine({}), std::nullopt);
    // Quotes removed, so a save hits this file.
    const LoadedShow loaded = store.load("\"Morning.cia\"");
    EXPECT_EQ(loaded.showName, "Morning.cia");
    EXPECT_EQ(loaded.caption, "Morning - KelvoRecorder");
    EXPECT_EQ(showTitle("a.cia.b"), "a.b");

    const fs::path one = folder / "One";
    writeFile(one, "");
    EXPECT_EQ(showFileFromDroppedFiles({one, folder / "x", path}), path);
    EXPECT_EQ(showFileFromDroppedFiles({path, folder}), fs::path());
    EXPECT_EQ(showFileFromDroppedFiles({path, folder / "gone"}), fs::path());
    EXPECT_EQ(showFileFromDroppedFiles({one, fs::path()}), one) << "a web link is no file";
    EXPECT_EQ(showFileFromDroppedFiles({fs::path(), fs::path()}), std::nullopt);
    QMimeData text, files;
    text.setText("One");
    EXPECT_FALSE(droppedFiles(text));
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(one.string())),
                   QUrl("https://example.org/One")});
    EXPECT_EQ(droppedFiles(files), (std::vector<fs::path>{one, fs::path()}));
}

TEST_F(ShowStoreTest, OpeningAFileFromElsewhereImportsItButNeverOverAnExistingShow) {
    const fs::path elsewhere = folder / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories(configurations);
    writeFile(elsewhere / "New.cia", "new");
    writeFile(elsewhere / "Kept", "theirs");
    writeFile(configurations / "Kept", "ours");
    writeFile(elsewhere / "Huge", std::string(2 << 20, ' '));

    const struct {
        fs::path file;
        std::string showName, notice, stored;
    } rows[] = {
        {elsewhere / "New.cia", "New.cia", "", "new"},
        {elsewhere / "Kept", "Kept", "already exists", "ours"},
        {configurations / "Kept", "Kept", "", "ours"}, // a show of its own: nothing to import
        {elsewhere / "Huge", "Huge", "could not be imported", "(none)"},
        {fs::path(), "", "", "(none)"},
    };
    for (const auto& row : rows) {
        const OpenedShowFile opened = store.open(row.file);
        EXPECT_EQ(opened.showName, row.showName) << row.file;
        EXPECT_EQ(opened.notice.empty(), row.notice.empty()) << opened.notice;
        EXPECT_NE(opened.notice.find(row.notice), std::string::npos) << opened.notice;
        const fs::path stored = configurations / row.showName;
        EXPECT_EQ(fs::is_regular_file(stored) ? contentOf(stored) : "(none)", row.stored)
            << row.file;
    }
    EXPECT_EQ(contentOf(elsewhere / "Kept"), "theirs");
}

TEST_F(ShowStoreTest, NamesAreBytesOnDiskShownReadably) {
    fs::create_directories(configurations);
    const std::string latin1 = "M\xfcsik";
    writeFile(configurations / latin1, "");
    EXPECT_EQ(store.list(), (std::vector<std::string>{latin1}));
    EXPECT_EQ(readableShowName(latin1), "M\u00fcsik");
    EXPECT_EQ(readableShowName("Caf\u00e9"), "Caf\u00e9");
    const LoadedShow loaded = store.load(latin1);
    EXPECT_EQ(loaded.showName, latin1);
    EXPECT_TRUE(loaded.problem.empty()) << loaded.problem;
    ASSERT_FALSE(store.save(latin1, ShowRecord{}));
    EXPECT_EQ(store.list(), (std::vector<std::string>{latin1})) << "no second file";
    EXPECT_EQ(readShowFile(contentOf(configurations / latin1)).completeRecords, 1);
}

// A recording adds "-MM-dd-yy-HH-mm-ss.wav" and maybe "-N"; a file name holds 255 bytes.
TEST_F(ShowStoreTest, NewNamesLeaveRoomForTheRecordingNameButOldShowsStillLoad) {
    const std::string longest(kMaxNewShowNameBytes, 'x');
    EXPECT_FALSE(newShowNameError(longest));
    EXPECT_GE(255u - longest.size(), std::string("-12-31-99-23-59-59-99.wav").size());
    std::string accented; // letters, not bytes, are what the user counts
    while (accented.size() <= kMaxNewShowNameBytes)
        accented += "\u00e9";
    for (const std::string& refused : {longest + "x", accented, "a\tb"s, "a\nb"s})
        EXPECT_TRUE(newShowNameError(refused)) << refused;
    EXPECT_NE(newShowNameError(longest + "x")->find("at most 225 bytes"), std::string::npos);
    EXPECT_EQ(newShowNameError("a/b"), showNameError("a/b"));

    const std::string existing(240, 'y');
    fs::create_directories(configurations);
    writeFile(configurations / existing, "");
    EXPECT_EQ(store.load(existing).showName, existing);
    EXPECT_FALSE(store.save(existing, ShowRecord{}));
}

TEST_F(FileAssociation, AssociationForAProgramFolderWithBlanksIsInstalled) {
    XdgDesktopRegistry registry(folder);
    ASSERT_TRUE(associateFileType("  .cia ", "/opt/Kelvo Recorder/KelvoRecorder", registry));
    const fs::path entry = folder / "applications/kelvorecorder.desktop";
    const std::string files =
        contentOf(folder / "mime/packages/kelvorecorder-cia.xml") + contentOf(entry);
    for (const char* expected :
         {"<mime-type type=\"application/x-kelvorecorder-cia\">", "<comment>cia File</comment>",
          "<glob pattern=\"*.cia\"/>", "\nExec=\"/opt/Kelvo Recorder/KelvoRecorder\" %f\n",
          "\nMimeType=application/x-kelvorecorder-cia;\n"})
        EXPECT_NE(files.find(expected), std::string::npos) << expected;
    EXPECT_EQ(std::system(("desktop-file-validate '" + entry.string() + "' >/dev/null").c_str()),
              0);
    // The desktop's caches were rebuilt from them.
    EXPECT_TRUE(fs::exists(folder / "mime/application/x-kelvorecorder-cia.xml"));
    EXPECT_NE(contentOf(folder / "applications/mimeinfo.cache").find("kelvorecorder.desktop"),
              std::string::npos);
    // Backslashes are escaped once for the quoting and again for the string value.
    EXPECT_EQ(desktopExecProgram("/opt/100%/Kelvo"), "/opt/100%%/Kelvo");
    EXPECT_EQ(desktopExecProgram("/a\"b$c\\d%e"), "\"/a\\\\\"b\\\\$c\\\\\\\\d%%e\"");
}

TEST_F(FileAssociation, UnusableExtensionOrFailedInstallLeavesEarlierFilesAsTheyWere) {
    XdgDesktopRegistry registry(folder);
    for (const char* bad : {"cia", "", ".", ". cia", ".c/a", ".c*"})
        EXPECT_FALSE(associateFileType(bad, "/opt/kelvo/KelvoRecorder", registry)) << bad;
    EXPECT_TRUE(fs::is_empty(folder));

    fs::create_directories(folder / "mime/packages");
    std::ofstream(folder / "mime/packages/kelvorecorder-cia.xml") << "old";
    std::ofstream(folder / "applications") << "a file where the folder should be";
    EXPECT_FALSE(associateFileType(".cia", "/opt/kelvo/KelvoRecorder", registry));
    EXPECT_EQ(contentOf(folder / "mime/packages/kelvorecorder-cia.xml"), "old");
    fs::remove(folder / "mime/packages/kelvorecorder-cia.xml");
    EXPECT_FALSE(associateFileType(".cia", "/opt/kelvo/KelvoRecorder", registry));
    EXPECT_TRUE(fs::is_empty(folder / "mime/packages"));
}

TEST_F(FileAssociation, ToolsRunWithoutAShellAndAreNotWaitedForForever) {
    EXPECT_TRUE(runQuietly({"true"}, 5s));
    EXPECT_FALSE(runQuietly({"false"}, 5s) || runQuietly({"no-such-tool-kelvo"}, 5s) ||
                 runQuietly({"sh -c true"}, 5s));
    EXPECT_FALSE(runQuietly({"sleep", "10"}, 200ms));
}

} // namespace
} // namespace kelvo
