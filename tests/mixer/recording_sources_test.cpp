#include "recorder/mixer/recording_sources.h"
#include "tests/mixer/fake_mixer.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QSlider>

namespace kelvo {
namespace {

using Selection = std::pair<std::uint32_t, std::vector<std::int32_t>>;
using Volume = std::pair<std::uint32_t, std::uint32_t>;

// The window's three controls as it creates them, around a fake mixer.
struct Window {
    explicit Window(FakeMixer fake) : mixer(std::move(fake)) {
        EXPECT_EQ(startMixer(mixer, state, [](const std::string&, const std::string&) {}),
                  MixerStartup::Ready);
        slider.setRange(0, 100);
        slider.setValue(50);
        sources.emplace(state, held, list, slider, webcast);
    }
    void clearWrites() {
        mixer.selectionWrites.clear();
        mixer.volumeWrites.clear();
    }

    FakeMixer mixer;
    MixerState state;
    HeldMixerSettings held;
    QComboBox list;
    QSlider slider{Qt::Vertical};
    QLineEdit webcast;
    std::optional<RecordingSources> sources;
};

TEST(DeviceLevel, RunsFromFullAtTheTopToZeroAtTheBottom) {
    EXPECT_EQ(deviceLevel(0), 65535u);
    EXPECT_EQ(deviceLevel(1), 64880u);
    EXPECT_EQ(deviceLevel(10), 58982u);
    EXPECT_EQ(deviceLevel(50), 32768u);
    EXPECT_EQ(deviceLevel(90), 6554u);
    EXPECT_EQ(deviceLevel(99), 655u);
    EXPECT_EQ(deviceLevel(100), 0u);
}

TEST(RecordingSources, FirstStartShowsMicrophoneSwitchedOnAtHalfLevel) {
    Window w(FakeMixer::withSources({"Monitor of Speakers", "Microphone", "Line In"}));
    w.held.webcastAddress = "http://radio.example/live";
    w.sources->InitializeSources();
    EXPECT_EQ(w.list.count(), 3);
    EXPECT_EQ(w.list.currentText(), "Microphone");
    EXPECT_EQ(w.held.selectedSource, 1);
    EXPECT_EQ(w.mixer.selectionWrites, (std::vector<Selection>{{500, {0, 1, 0}}}));
    EXPECT_EQ(w.mixer.volumeWrites, (std::vector<Volume>{{21, 32768}}));
    EXPECT_EQ(w.webcast.text(), "http://radio.example/live");
    EXPECT_EQ(w.sources->selectedSourceName(), "Microphone");
}

TEST(RecordingSources, SelectionLeavesExactlyOneItemOnOfAMixerControl) {
    FakeMixer fake = FakeMixer::withSources({"Line In", "Microphone", "CD"}, kControlTypeMixer);
    fake.lists[0].values = {1, 1, 1};
    Window w(std::move(fake));
    w.sources->InitializeSources();
    EXPECT_EQ(w.mixer.lists[0].values, (std::vector<std::int32_t>{0, 1, 0}));
}

TEST(RecordingSources, TheLaterOfTwoEqualNamesIsSwitchedOn) {
    Window w(FakeMixer::withSources({"Mic", "Line In", "Mic"}));
    w.held.sourceName = "Mic";
    w.sources->InitializeSources();
    EXPECT_EQ(w.held.selectedSource, 2);
    EXPECT_EQ(w.mixer.selectionWrites.back().second, (std::vector<std::int32_t>{0, 0, 1}));
}

TEST(RecordingSources, MovingTheSliderSetsOnlyTheSelectedSourcesVolume) {
    Window w(FakeMixer::withSources({"Microphone", "Line In"}));
    w.sources->InitializeSources();
    w.clearWrites();
    w.slider.setValue(10);
    w.slider.setValue(10); // its own position: no write
    EXPECT_EQ(w.mixer.volumeWrites, (std::vector<Volume>{{11, 58982}}));
    EXPECT_TRUE(w.mixer.selectionWrites.empty());
}

TEST(RecordingSources, DraggingWithoutTrackingFollowsTheThumb) {
    Window w(FakeMixer::withSources({"Microphone"}));
    w.sources->InitializeSources();
    w.clearWrites();
    w.slider.setTracking(false);
    w.slider.setSliderDown(true);
    w.slider.setSliderPosition(99);
    EXPECT_EQ(w.mixer.volumeWrites, (std::vector<Volume>{{11, 655}}));
}

TEST(RecordingSources, ChoosingAnotherSourceSetsItsVolumeFromTheSlider) {
    Window w(FakeMixer::withSources({"Microphone", "Line In"}));
    w.sources->InitializeSources();
    w.slider.setValue(0);
    w.clearWrites();
    w.list.setCurrentIndex(1);
    EXPECT_EQ(w.held.selectedSource, 1);
    EXPECT_EQ(w.mixer.selectionWrites, (std::vector<Selection>{{500, {0, 1}}}));
    EXPECT_EQ(w.mixer.volumeWrites, (std::vector<Volume>{{21, 65535}}));
}

TEST(RecordingSources, UnmatchedNameKeepsTheSelectedEntryAndAppliesIt) {
    Window w(FakeMixer::withSources({"Mic In", "Line In"}));
    w.sources->InitializeSources(); // no "Microphone" here
    EXPECT_EQ(w.list.currentIndex(), 0);
    EXPECT_EQ(w.held.selectedSource, 0);
    EXPECT_EQ(w.mixer.selectionWrites, (std::vector<Selection>{{500, {1, 0}}}));
    EXPECT_EQ(w.mixer.volumeWrites, (std::vector<Volume>{{11, 32768}}));

    w.list.setCurrentIndex(1);
    w.clearWrites();
    w.sources->loadSettings("Stereo Mix", 50, "");
    EXPECT_EQ(w.list.currentText(), "Line In");
    EXPECT_EQ(w.held.selectedSource, 1);
    EXPECT_EQ(w.mixer.selectionWrites, (std::vector<Selection>{{500, {0, 1}}}));
}

TEST(RecordingSources, LoadingAShowSetsTheControlsAndSavingTakesThemBack) {
    Window w(FakeMixer::withSources({"Microphone", "Line In"}));
    w.sources->InitializeSources();
    w.sources->loadSettings("Line In", 90, "http://radio.example/");
    EXPECT_EQ(w.list.currentText(), "Line In");
    EXPECT_EQ(w.slider.value(), 90);
    EXPECT_EQ(w.mixer.volumeWrites.back(), (Volume{21, 6554}));

    w.list.setCurrentIndex(0);
    w.slider.setValue(1);
    w.webcast.setText("http://other.example/");
    w.sources->rememberMixerSettings();
    EXPECT_EQ(w.held.sourceName, "Microphone");
    EXPECT_EQ(w.held.inputLevel, 1);
    EXPECT_EQ(w.held.webcastAddress, "http://other.example/");
}

TEST(RecordingSources, RefusedSelectionReadWritesNothingAndReportsFailure) {
    Window w(FakeMixer::withSources({"Microphone"}));
    w.sources->InitializeSources();
    w.clearWrites();
    w.mixer.failing = {"booleanValues"};
    EXPECT_FALSE(w.sources->setRecordingSelection(1));
    EXPECT_TRUE(w.mixer.selectionWrites.empty());
    w.held.selectedSource = 1; // out of range
    EXPECT_FALSE(w.sources->setRecordingSelection(1));
}

} // namespace
} // namespace kelvo
