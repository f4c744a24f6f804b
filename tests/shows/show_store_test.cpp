#include "recorder/shows/show_drop.h"
#include "recorder/shows/show_file.h"
#include "recorder/shows/show_store.h"

#include <QMimeData>
#include <QUrl>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace kelvo {
namespace {

namespace fs = std::filesystem;

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

class ShowStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kelvo shows XXXXXX";
        program_ = mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(program_); }

    fs::path program_;
    ShowStore store() const { return ShowStore(program_); }
    fs::path configurations() const { return program_ / "configurations"; }
};

TEST_F(ShowStoreTest, FirstStartCreatesAnEmptyDefaultAndAppliesNothing) {
    const LoadedShow loaded = store().load("");
    EXPECT_EQ(loaded.showName, "Default");
    EXPECT_EQ(loaded.caption, "Default - KelvoRecorder");
    EXPECT_FALSE(loaded.record);
    EXPECT_TRUE(loaded.problem.empty()) << loaded.problem;
    EXPECT_EQ(fs::file_size(configurations() / "Default"), 0u);
    EXPECT_EQ(store().list(), std::vector<std::string>{"Default"});

    ASSERT_FALSE(store().save(loaded.showName, ShowRecord{}));
    EXPECT_EQ(readShowFile(contentOf(configurations() / "Default")).completeRecords, 1);
}

TEST(ShowTitle, RemovesEveryCiaWithLetterCaseCounting) {
    EXPECT_EQ(showTitle("Morning.cia"), "Morning");
    EXPECT_EQ(showTitle("a.cia.b"), "a.b");
    EXPECT_EQ(showTitle("x.cia.cia"), "x");
    EXPECT_EQ(showTitle("Night.CIA"), "Night.CIA");
    EXPECT_EQ(showCaption(showTitle("Morning.cia")), "Morning - KelvoRecorder");
}

TEST_F(ShowStoreTest, WmaQualityIsCarriedThroughLoadAndSave) {
    fs::create_directories(configurations());
    const std::string line = "\"1:00:00 AM\",\"5:00:00 AM\",\"Windows Wave (WAV)\",\"44.1 kHz "
                             "(CD)\",\"64 Kb/sec\",\"2\",0,0,\"Mic\",50,\"\",\"WMA 9 High\","
                             "1,1,1,1,1,1,1\r\n";
    writeFile(configurations() / "Morning.cia", line);
    const LoadedShow loaded = store().load("\"Morning.cia\"");
    EXPECT_EQ(loaded.showName, "Morning.cia"); // quotes removed, so the save hits this file
    EXPECT_EQ(loaded.title, "Morning");
    ASSERT_TRUE(loaded.record);

    ShowRecord next;
    next.sourceName = *loaded.record->sourceName;
    next.wmaQuality = *loaded.record->wmaQuality;
    ASSERT_FALSE(store().save(loaded.showName, next));
    EXPECT_EQ(contentOf(configurations() / "Morning.cia"), line);
}

TEST_F(ShowStoreTest, FailedWriteKeepsThePreviousFileWhole) {
    fs::create_directories(configurations());
    writeFile(configurations() / "Default", "old");
    // A file size limit makes the write fail as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &tight);
    const auto error = store().save("Default", ShowRecord{});
    setrlimit(RLIMIT_FSIZE, &saved);

    ASSERT_TRUE(error);
    EXPECT_NE(error->find("could not be saved"), std::string::npos) << *error;
    EXPECT_EQ(contentOf(configurations() / "Default"), "old");
    EXPECT_EQ(store().list(), std::vector<std::string>{"Default"}); // no temporary left
}

TEST_F(ShowStoreTest, SaveWhereNoFolderCanBeMadeReportsAnError) {
    writeFile(configurations(), "a file where the folder should be");
    const auto error = store().save("Default", ShowRecord{});
    ASSERT_TRUE(error);
    EXPECT_EQ(contentOf(configurations()), "a file where the folder should be");
    const LoadedShow loaded = store().load("Default");
    EXPECT_FALSE(loaded.problem.empty());
    EXPECT_FALSE(loaded.record);
}

TEST_F(ShowStoreTest, NamesThatAreNoFileNameAreRefusedAndWriteNothing) {
    fs::create_directories(configurations());
    for (const std::string& name :
         {std::string(), std::string("."), std::string(".."), std::string("../escape"),
          std::string("a/b"), std::string("a\0b", 3), std::string("say \"hi\""),
          std::string(300, 'x')}) {
        const auto error = showNameError(name);
        ASSERT_TRUE(error) << name;
        EXPECT_EQ(store().save(name, ShowRecord{}), error);
        EXPECT_FALSE(store().remove(name));
    }
    EXPECT_TRUE(fs::is_empty(configurations()));
    EXPECT_EQ(std::distance(fs::directory_iterator(program_), fs::directory_iterator()), 1);
    EXPECT_FALSE(showNameError("Morning Show.cia"));
    EXPECT_EQ(store().load("../escape").showName, "Default");
}

TEST_F(ShowStoreTest, ListIsSortedIgnoringCaseAndHoldsOnlyShowFiles) {
    fs::create_directories(configurations() / "a folder");
    for (const char* name : {"morning", "Default", "Evening.cia", ".~kelvo-save-1-2", "b"})
        writeFile(configurations() / name, "");
    EXPECT_EQ(store().list(), (std::vector<std::string>{"b", "Default", "Evening.cia", "morning"}));
    EXPECT_TRUE(store().remove("b"));
    EXPECT_FALSE(store().remove("b"));
    EXPECT_FALSE(store().remove("a folder"));
    EXPECT_TRUE(fs::is_directory(configurations() / "a folder"));
}

TEST_F(ShowStoreTest, LoadingAFolderOrAnOversizedFileAppliesNothing) {
    fs::create_directories(configurations() / "Folder");
    EXPECT_FALSE(store().load("Folder").record);
    writeFile(configurations() / "Huge", std::string(2 << 20, ' '));
    const LoadedShow huge = store().load("Huge");
    EXPECT_FALSE(huge.record);
    EXPECT_FALSE(huge.problem.empty());
}

TEST_F(ShowStoreTest, CommandLineNamesTheFileAsFoundOrElseDefault) {
    fs::create_directories(program_ / "elsewhere");
    writeFile(program_ / "elsewhere" / "Evening.cia", "");
    const std::string path = (program_ / "elsewhere" / "Evening.cia").string();
    // The shell split the path at its blanks; joined again they name the file.
    std::vector<std::string> split;
    for (std::size_t start = 0, blank; start <= path.size(); start = blank + 1) {
        blank = std::min(path.find(' ', start), path.size());
        split.push_back(path.substr(start, blank - start));
    }
    ASSERT_GT(split.size(), 1u);
    EXPECT_EQ(showNameFromCommandLine(split), "Evening.cia");
    EXPECT_EQ(showNameFromCommandLine({"\"" + path + "\""}), "");
    EXPECT_EQ(showNameFromCommandLine({path + ".gone"}), "");
    EXPECT_EQ(showNameFromCommandLine({program_.string()}), "");
    EXPECT_EQ(showNameFromCommandLine({}), std::nullopt);

    const LoadedShow loaded = store().load("Evening.cia");
    EXPECT_EQ(loaded.title, "Evening");
    EXPECT_TRUE(fs::exists(configurations() / "Evening.cia"));
}

TEST_F(ShowStoreTest, LastDroppedFileDecidesAndAFolderOrMissingFileGivesDefault) {
    writeFile(program_ / "One", "");
    writeFile(program_ / "Two.cia", "");
    EXPECT_EQ(showNameFromDroppedFiles({program_ / "One", program_ / "x", program_ / "Two.cia"}),
              "Two.cia");
    EXPECT_EQ(showNameFromDroppedFiles({program_ / "One", program_}), "");
    EXPECT_EQ(showNameFromDroppedFiles({program_ / "One", program_ / "gone"}), "");

    QMimeData text;
    text.setText("Two.cia");
    EXPECT_FALSE(droppedFiles(text));
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString((program_ / "One").string())),
                   QUrl("https://example.org/Two.cia")});
    const auto dropped = droppedFiles(files);
    ASSERT_TRUE(dropped);
    EXPECT_EQ(*dropped, (std::vector<fs::path>{program_ / "One", fs::path()}));
}

} // namespace
} // namespace kelvo
