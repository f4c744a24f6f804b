#include "recorder/shows/xdg_registry.h"
#include "tests/shows/fake_desktop_registry.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class XdgTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kelvo xdg XXXXXX";
        dataHome_ = mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(dataHome_); }

    fs::path dataHome_;
};

TEST(FileAssociation, ExtensionIsTrimmedAndMustStartWithADot) {
    const auto type = fileTypeFor("  .cia ");
    ASSERT_TRUE(type);
    EXPECT_EQ(type->extension, ".cia");
    EXPECT_EQ(type->typeName, "cia File");
    EXPECT_EQ(type->mimeType, "application/x-kelvorecorder-cia");
    for (const char* bad : {"cia", "", "  ", ".", ". cia", ".c/a", ".c*"})
        EXPECT_FALSE(fileTypeFor(bad)) << bad;

    FakeDesktopRegistry registry;
    EXPECT_FALSE(associateFileType("cia", "/opt/kelvo/KelvoRecorder", registry));
    EXPECT_EQ(registry.installs, 0);
    registry.succeed = false;
    EXPECT_FALSE(associateFileType(".cia", "/opt/kelvo/KelvoRecorder", registry));
}

TEST(FileAssociation, ProgramPathIsQuotedAndEscapedForTheExecKey) {
    EXPECT_EQ(desktopExecProgram("/opt/kelvo/KelvoRecorder"), "/opt/kelvo/KelvoRecorder");
    EXPECT_EQ(desktopExecProgram("/opt/My Apps/KelvoRecorder"), "\"/opt/My Apps/KelvoRecorder\"");
    EXPECT_EQ(desktopExecProgram("/opt/100%/Kelvo"), "/opt/100%%/Kelvo");
    // Backslashes are escaped once for the quoting and again for the string value.
    EXPECT_EQ(desktopExecProgram("/a\"b$c\\d%e"), "\"/a\\\\\"b\\\\$c\\\\\\\\d%%e\"");
}

TEST_F(XdgTest, AssociationForAProgramFolderWithBlanksIsInstalled) {
    XdgDesktopRegistry registry(dataHome_);
    const fs::path program = "/opt/Kelvo Recorder/KelvoRecorder";
    ASSERT_TRUE(associateFileType(".cia", program, registry));

    const std::string package = contentOf(dataHome_ / "mime/packages/kelvorecorder-cia.xml");
    EXPECT_NE(package.find("<mime-type type=\"application/x-kelvorecorder-cia\">"),
              std::string::npos);
    EXPECT_NE(package.find("<comment>cia File</comment>"), std::string::npos);
    EXPECT_NE(package.find("<glob pattern=\"*.cia\"/>"), std::string::npos);

    const fs::path entry = dataHome_ / "applications/kelvorecorder.desktop";
    const std::string desktop = contentOf(entry);
    EXPECT_NE(desktop.find("\nExec=\"/opt/Kelvo Recorder/KelvoRecorder\" %f\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nMimeType=application/x-kelvorecorder-cia;\n"), std::string::npos);
    EXPECT_EQ(std::system(("desktop-file-validate '" + entry.string() + "' >/dev/null").c_str()),
              0);
    // The desktop's caches were rebuilt from them.
    EXPECT_TRUE(fs::exists(dataHome_ / "mime/application/x-kelvorecorder-cia.xml"));
    EXPECT_NE(contentOf(dataHome_ / "applications/mimeinfo.cache").find("kelvorecorder.desktop"),
              std::string::npos);
}

TEST_F(XdgTest, FailedInstallLeavesEarlierFilesAsTheyWere) {
    fs::create_directories(dataHome_ / "mime/packages");
    std::ofstream(dataHome_ / "mime/packages/kelvorecorder-cia.xml") << "old";
    std::ofstream(dataHome_ / "applications") << "a file where the folder should be";
    XdgDesktopRegistry registry(dataHome_);
    EXPECT_FALSE(associateFileType(".cia", "/opt/kelvo/KelvoRecorder", registry));
    EXPECT_EQ(contentOf(dataHome_ / "mime/packages/kelvorecorder-cia.xml"), "old");

    fs::remove(dataHome_ / "mime/packages/kelvorecorder-cia.xml");
    EXPECT_FALSE(associateFileType(".cia", "/opt/kelvo/KelvoRecorder", registry));
    EXPECT_TRUE(fs::is_empty(dataHome_ / "mime/packages"));
}

TEST(FileAssociation, DataHomeFollowsXdgAndFallsBackToTheHomeFolder) {
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(xdgDataHome(), "/srv/data");
    setenv("XDG_DATA_HOME", "relative/data", 1); // not absolute: ignored
    setenv("HOME", "/home/listener", 1);
    EXPECT_EQ(xdgDataHome(), "/home/listener/.local/share");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(xdgDataHome(), "/home/listener/.local/share");
    setenv("HOME", savedHome.c_str(), 1);
}

TEST(FileAssociation, ToolsRunWithoutAShellAndAreNotWaitedForForever) {
    EXPECT_TRUE(runQuietly({"true"}, 5s));
    EXPECT_FALSE(runQuietly({"false"}, 5s));
    EXPECT_FALSE(runQuietly({"no-such-tool-kelvo"}, 5s));
    EXPECT_FALSE(runQuietly({"sh -c true"}, 5s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(runQuietly({"sleep", "10"}, 200ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

} // namespace
} // namespace kelvo
