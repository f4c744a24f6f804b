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

// A show's source that is unplugged or unloaded is never replaced by another: nothing else
// is switched on, and it stays the chosen source until the user picks an entry.
TEST(RecordingSources, ASourceThatIsNotThereIsNeverReplacedByAnother) {
    FakeMixer mixer = FakeMixer::withSources({"Microphone", "Line In"});
    MixerWindow w(mixer);
    EXPECT_EQ(mixer.selectionWrites, (Values{{1, 0}}));
    const Volumes volumes = mixer.volumeWrites;
    w.sources->showSource("Stereo Mix");
    EXPECT_EQ(w.list.currentIndex(), -1);
    EXPECT_EQ(w.list.placeholderText(), "Stereo Mix (not there)");
    EXPECT_EQ(w.sources->missingSource(), "Stereo Mix");
    EXPECT_EQ(w.sources->selectedSourceName(), "Stereo Mix");
    w.sources->applySourceSelection(); // as a recording's start does
    w.slider.setValue(90);
    EXPECT_EQ(mixer.selectionWrites, (Values{{1, 0}})) << "nothing else is switched on";
    EXPECT_EQ(mixer.volumeWrites, volumes) << "nor another source's level set";

    w.list.setCurrentIndex(1); // the user picks another
    EXPECT_EQ(w.sources->missingSource(), "");
    EXPECT_EQ(w.sources->selectedSourceName(), "Line In");
    EXPECT_EQ(mixer.selectionWrites, (Values{{1, 0}, {0, 1}}));
}

} // namespace
} // namespace kelvo
