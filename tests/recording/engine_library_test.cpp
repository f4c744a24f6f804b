#include "recorder/recording/engine_library.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace kelvo {
namespace {

TEST(EngineLibrary, LoadsFromTheProgramFolderAndReachesEveryExport) {
    EngineLibrary engine(FAKE_ENGINE_DIR);
    EXPECT_EQ(engine.initialize(), 0);
    EXPECT_EQ(engine.startMonitor(1, 2, 44100, "abc"), 1000000 + 200000 + 4400 + 3);
    EXPECT_EQ(engine.stopMonitor(), -10);
    EXPECT_EQ(engine.togglePause(), 7);
    EXPECT_EQ(engine.peakLeft(), 1234);
    EXPECT_EQ(engine.peakRight(), 4321);
    EXPECT_TRUE(engine.loaded());
    EXPECT_EQ(engine.loadError(), "");
}

TEST(EngineLibrary, FallsBackToTheLoaderSearchWhenTheProgramFolderLacksIt) {
    QTemporaryDir emptyFolder;
    // A name with a folder in it bypasses the search, which stands in for it here.
    EngineLibrary engine(emptyFolder.path().toStdString(),
                         std::string(FAKE_ENGINE_DIR) + "/libkelvo.so");
    EXPECT_EQ(engine.peakRight(), 4321);
}

TEST(EngineLibrary, MissingLibraryAnswersEveryCallAsUnavailableAndSaysWhy) {
    QTemporaryDir emptyFolder;
    EngineLibrary engine(emptyFolder.path().toStdString(), "libkelvo-absent-for-tests.so");
    EXPECT_EQ(engine.loadError(), "") << "nothing is tried before the first call";
    EXPECT_EQ(engine.initialize(), CaptureEngine::kEngineUnavailable);
    EXPECT_EQ(engine.startMonitor(1, 2, 44100, "x.wav"), CaptureEngine::kEngineUnavailable);
    EXPECT_EQ(engine.stopMonitor(), CaptureEngine::kEngineUnavailable);
    EXPECT_EQ(engine.togglePause(), CaptureEngine::kEngineUnavailable);
    EXPECT_EQ(engine.peakLeft(), CaptureEngine::kEngineUnavailable);
    EXPECT_EQ(engine.peakRight(), CaptureEngine::kEngineUnavailable);
    EXPECT_NE(engine.loadError().find("libkelvo-absent-for-tests.so"), std::string::npos)
        << engine.loadError();
    EXPECT_NE(engine.loadError().find("No such file"), std::string::npos) << engine.loadError();
}

TEST(EngineLibrary, LibraryLackingAnExportIsRefusedNamingTheExport) {
    EngineLibrary engine(FAKE_ENGINE_WITHOUT_PAUSE_DIR);
    EXPECT_EQ(engine.initialize(), CaptureEngine::kEngineUnavailable);
    EXPECT_EQ(engine.peakLeft(), CaptureEngine::kEngineUnavailable);
    EXPECT_NE(engine.loadError().find("KelvoTogglePause"), std::string::npos) << engine.loadError();
}

} // namespace
} // namespace kelvo
