#include "tests/mixer/fake_mixer.h"
#include "tests/mixer/mixer_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace kelvo {

bool operator==(const SourceEntry& a, const SourceEntry& b) {
    return std::tie(a.lineId, a.volumeControlId, a.name) ==
           std::tie(b.lineId, b.volumeControlId, b.name);
}

namespace {

using Entries = std::vector<SourceEntry>;

TEST(MixerStartup, UsesTheMuxWhenAloneAndTheMixerControlWhenBothExist) {
    FakeMixer mux = FakeMixer::withSources({"Microphone", "Line In"});
    MixerWindow w(mux);
    ASSERT_EQ(w.started, MixerStartup::Ready);
    EXPECT_EQ(w.state.device, &mux);
    EXPECT_EQ(w.state.selectionControlId, 500u);
    EXPECT_EQ(w.state.sources, (Entries{{10, 11, "Microphone"}, {20, 21, "Line In"}}));
    EXPECT_TRUE(w.shown.empty());

    FakeMixer both = FakeMixer::withSources({"Microphone"});
    both.lists.push_back(FakeMixer::withSources({"Mic (mixer)"}, kControlTypeMixer).lists[0]);
    MixerWindow mixer(both);
    EXPECT_EQ(mixer.state.selectionControlId, 501u);
    EXPECT_EQ(mixer.state.sources, (Entries{{10, 11, "Mic (mixer)"}}));
}

TEST(MixerStartup, NamesFillTheirFieldOrEndAtTheFirstNul) {
    const std::string full(63, 'x');
    FakeMixer mixer = FakeMixer::withSources({full, std::string(" Line \0junk", 11)});
    EXPECT_EQ(MixerWindow(mixer).state.sources, (Entries{{10, 11, full}, {20, 21, " Line "}}));
}

TEST(MixerStartup, VolumeControlsPairWithEntriesInLineIdOrder) {
    FakeMixer reversed = FakeMixer::withSources({"A", "B", "C"});
    std::reverse(reversed.lists[0].items.begin(), reversed.lists[0].items.end());
    reversed.sourceLines = {{10, 5}, {20, 6}, {30, 7}};
    EXPECT_EQ(MixerWindow(reversed).state.sources,
              (Entries{{30, 7, "C"}, {20, 6, "B"}, {10, 5, "A"}}));

    // Entries beyond the source lines take part with 0, the smallest ID.
    FakeMixer fewerLines = FakeMixer::withSources({"A", "B", "C"});
    fewerLines.sourceLines.resize(1);
    EXPECT_EQ(MixerWindow(fewerLines).state.sources,
              (Entries{{10, 0, "A"}, {20, 0, "B"}, {30, 11, "C"}}));

    Entries ties{{10, 2, "a"}, {10, 1, "b"}, {5, 1, "c"}};
    pairVolumeControls(ties); // equal line IDs: the lower index first
    EXPECT_EQ(ties, (Entries{{10, 1, "a"}, {10, 2, "b"}, {5, 1, "c"}}));
}

TEST(MixerStartup, FailuresEndStartUpAndOnlyAMissingOrUnopenableMixerIsReported) {
    FakeMixer absent = FakeMixer::withSources({"Microphone"}), closed = absent, noList = absent;
    absent.devices = 0;
    closed.openResult = MixerResult::Unreachable;
    noList.lists[0].controlType = kControlTypeVolume;
    using enum MixerStartup;
    const std::tuple<FakeMixer*, MixerStartup, std::string> cases[] = {
        {&absent, NoMixer, "Kelvo Mixer - Error|Unable to detect a mixer.\r\n\r\nTerminating..."},
        {&closed, OpenFailed, "Kelvo Mixer - Error|Unable to open mixer.\r\n\r\nTerminating..."},
        {&noList, NoRecordingSelection, ""}};
    for (const auto& [mixer, result, shown] : cases) {
        MixerWindow w(*mixer);
        EXPECT_EQ(w.started, result);
        EXPECT_EQ(w.shown, shown);
        EXPECT_EQ(w.state.device, result == NoRecordingSelection ? mixer : nullptr);
        EXPECT_TRUE(w.state.sources.empty());
    }
}

} // namespace
} // namespace kelvo
