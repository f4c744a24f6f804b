#include "tests/mixer/fake_mixer.h"
#include "tests/mixer/mixer_window.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

using Values = std::vector<std::vector<std::int32_t>>;
using Volumes = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

TEST(RecordingSources, OfSeveralItemsOnOnlyTheLaterOfTwoEqualNamesStaysOn) {
    FakeMixer mixer = FakeMixer::withSources({"Mic", "Line In", "Mic"}, kControlTypeMixer);
    mixer.lists[0].values = {1, 1, 1};
    MixerWindow w(mixer, "Mic");
    EXPECT_EQ(w.sources->selectedSource(), 2);
    EXPECT_EQ(mixer.selectionWrites, (Values{{0, 0, 1}}));
}

TEST(RecordingSources, TheSliderSetsTheSelectedSourcesVolumeOnlyWhenItMoves) {
    FakeMixer mixer = FakeMixer::withSources({"Microphone", "Line In"});
    MixerWindow w(mixer);
    for (int position : {10, 10, 0, 1, 100}) {
        w.slider.setValue(position); // full at the top, zero at the bottom
    }
    w.slider.setTracking(false);
    w.slider.setSliderDown(true);
    w.slider.setSliderPosition(99); // dragged without tracking: follows the thumb
    EXPECT_EQ(mixer.volumeWrites,
              (Volumes{{11, 32768}, {11, 58982}, {11, 65535}, {11, 64880}, {11, 0}, {11, 655}}));
    EXPECT_EQ(mixer.selectionWrites.size(), 1u);
}

TEST(RecordingSources, UnmatchedNameKeepsTheSelectedEntryAndAppliesIt) {
    FakeMixer mixer = FakeMixer::withSources({"Mic In", "Line In"}); // no "Microphone"
    MixerWindow w(mixer);
    EXPECT_EQ(w.list.currentIndex(), 0);
    EXPECT_EQ(mixer.selectionWrites, (Values{{1, 0}}));

    w.list.setCurrentIndex(1);
    w.slider.setValue(90);
    w.sources->showSource("Stereo Mix");
    EXPECT_EQ(w.list.currentText(), "Line In");
    EXPECT_EQ(w.sources->selectedSource(), 1);
    EXPECT_EQ(w.sources->selectedSourceName(), "Line In");
    EXPECT_EQ(mixer.selectionWrites, (Values{{1, 0}, {0, 1}, {0, 1}}));
    EXPECT_EQ(mixer.volumeWrites.back(), (std::pair<std::uint32_t, std::uint32_t>{21, 6554}));
}

} // namespace
} // namespace kelvo
