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
    EXPECT_EQ(engine.loadError(), "");

    // A name with a folder in it bypasses the loader's search, which stands in for it here.
    QTemporaryDir empty;
    EXPECT_EQ(EngineLibrary(empty.path().toStdString(), FAKE_ENGINE_DIR "/libkelvo.so").peakRight(),
              4321);
}

TEST(EngineLibrary, MissingLibraryOrExportAnswersUnavailableAndSaysWhy) {
    QTemporaryDir empty;
    const struct {
        std::string folder, name, what, why;
    } cases[] = {
        {empty.path().toStdString(), "libkelvo-absent.so", "libkelvo-absent.so", "No such file"},
        {FAKE_ENGINE_WITHOUT_PAUSE_DIR, "libkelvo.so", "KelvoTogglePause", ""}};
    for (const auto& c : cases) {
        EngineLibrary engine(c.folder, c.name);
        EXPECT_EQ(engine.loadError(), "") << "nothing is tried before the first call";
        EXPECT_EQ(engine.initialize(), CaptureEngine::kEngineUnavailable);
        EXPECT_EQ(engine.startMonitor(1, 2, 44100, "x.wav"), CaptureEngine::kEngineUnavailable);
        EXPECT_EQ(engine.peakLeft(), CaptureEngine::kEngineUnavailable);
        EXPECT_NE(engine.loadError().find(c.what), std::string::npos) << engine.loadError();
        EXPECT_NE(engine.loadError().find(c.why), std::string::npos) << engine.loadError();
    }
}

} // namespace
} // namespace kelvo
