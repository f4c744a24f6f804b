#include "recorder/mixer/mixer_startup.h"
#include "tests/mixer/fake_mixer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvo {
namespace {

struct Shown {
    std::vector<std::pair<std::string, std::string>> messages;
    CriticalMessage sink() {
        return [this](const std::string& title, const std::string& text) {
            messages.emplace_back(title, text);
        };
    }
};

std::vector<std::string> names(const MixerState& state) {
    std::vector<std::string> result;
    for (const SourceEntry& entry : state.sources) {
        result.push_back(entry.name);
    }
    return result;
}

std::vector<std::int32_t> volumeIds(const MixerState& state) {
    std::vector<std::int32_t> result;
    for (const SourceEntry& entry : state.sources) {
        result.push_back(entry.volumeControlId);
    }
    return result;
}

TEST(MixerStartup, UsesTheMuxControlWhenThereIsNoMixerControl) {
    FakeMixer mixer = FakeMixer::withSources({"Microphone", "Line In"});
    MixerState state;
    Shown shown;
    ASSERT_EQ(startMixer(mixer, state, shown.sink()), MixerStartup::Ready);
    EXPECT_EQ(state.device, &mixer);
    EXPECT_EQ(state.selectionControlId, 500u);
    EXPECT_EQ(names(state), (std::vector<std::string>{"Microphone", "Line In"}));
    EXPECT_EQ(volumeIds(state), (std::vector<std::int32_t>{11, 21}));
    EXPECT_TRUE(shown.messages.empty());
}

TEST(MixerStartup, PrefersTheMixerControlOverTheMux) {
    FakeMixer mixer = FakeMixer::withSources({"Microphone"});
    mixer.lists.push_back({600, kControlTypeMixer, {listItem(10, "Mic (mixer)")}, {0}});
    MixerState state;
    Shown shown;
    ASSERT_EQ(startMixer(mixer, state, shown.sink()), MixerStartup::Ready);
    EXPECT_EQ(state.selectionControlId, 600u);
    EXPECT_EQ(names(state), (std::vector<std::string>{"Mic (mixer)"}));
}

TEST(MixerStartup, NamesFillTheirFieldOrEndAtTheFirstNul) {
    const std::string full(63, 'x');
    FakeMixer mixer = FakeMixer::withSources({full, std::string(" Line \0junk", 11)});
    MixerState state;
    Shown shown;
    ASSERT_EQ(startMixer(mixer, state, shown.sink()), MixerStartup::Ready);
    EXPECT_EQ(names(state), (std::vector<std::string>{full, " Line "}));
}

TEST(MixerStartup, ItemsInReverseOrderGetTheVolumeControlsOfTheirOwnLines) {
    FakeMixer mixer;
    mixer.lists.push_back({500,
                           kControlTypeMux,
                           {listItem(30, "C"), listItem(20, "B"), listItem(10, "A")},
                           {0, 0, 0}});
    mixer.sourceLines = {{10, 5}, {20, 6}, {30, 7}};
    MixerState state;
    Shown shown;
    ASSERT_EQ(startMixer(mixer, state, shown.sink()), MixerStartup::Ready);
    EXPECT_EQ(volumeIds(state), (std::vector<std::int32_t>{7, 6, 5}));
}

TEST(MixerStartup, PairingTakesTheLowerIndexFirstOnEqualIds) {
    std::vector<SourceEntry> sources{{10, 2, "a"}, {10, 1, "b"}, {5, 1, "c"}};
    pairVolumeControls(sources);
    EXPECT_EQ(sources[2].volumeControlId, 1); // smallest line ID
    EXPECT_EQ(sources[0].volumeControlId, 1); // equal line IDs: index 0 before index 1
    EXPECT_EQ(sources[1].volumeControlId, 2);
}

TEST(MixerStartup, EntriesWithoutASourceLineTakePartInThePairingWithZero) {
    FakeMixer mixer = FakeMixer::withSources({"A", "B", "C"});
    mixer.sourceLines.resize(1);
    MixerState state;
    Shown shown;
    ASSERT_EQ(startMixer(mixer, state, shown.sink()), MixerStartup::Ready);
    EXPECT_EQ(volumeIds(state), (std::vector<std::int32_t>{0, 0, 11}));
}

TEST(MixerStartup, VolumeControlFailuresLeaveZerosAndStartUpGoesOn) {
    FakeMixer mixer = FakeMixer::withSources({"A", "B"});
    mixer.failing = {"capabilities"};
    MixerState state;
    Shown shown;
    ASSERT_EQ(startMixer(mixer, state, shown.sink()), MixerStartup::Ready);
    EXPECT_EQ(volumeIds(state), (std::vector<std::int32_t>{0, 0}));
}

TEST(MixerStartup, NoMixerOrOneThatWillNotOpenIsReportedAndEndsStartUp) {
    FakeMixer absent = FakeMixer::withSources({"Microphone"});
    absent.devices = 0;
    FakeMixer closed = FakeMixer::withSources({"Microphone"});
    closed.openResult = MixerResult::Unreachable;
    const std::pair<FakeMixer*, MixerStartup> cases[] = {{&absent, MixerStartup::NoMixer},
                                                         {&closed, MixerStartup::OpenFailed}};
    const std::string texts[] = {"Unable to detect a mixer.\r\n\r\nTerminating...",
                                 "Unable to open mixer.\r\n\r\nTerminating..."};
    for (int i = 0; i < 2; ++i) {
        MixerState state;
        Shown shown;
        EXPECT_EQ(startMixer(*cases[i].first, state, shown.sink()), cases[i].second);
        EXPECT_EQ(shown.messages, (std::vector<std::pair<std::string, std::string>>{
                                      {"Kelvo Mixer - Error", texts[i]}}));
        EXPECT_EQ(state.device, nullptr);
    }
}

TEST(MixerStartup, MissingRecordingSelectionEndsStartUpSilently) {
    std::vector<std::function<void(FakeMixer&)>> breakages{
        [](FakeMixer& m) { m.destinations = {4}; },
        [](FakeMixer& m) { m.lists[0].controlType = kControlTypeVolume; },
        [](FakeMixer& m) { m.lists[0].items.clear(); },
        [](FakeMixer& m) { m.failing = {"listTexts"}; },
    };
    for (const auto& breakMixer : breakages) {
        FakeMixer mixer = FakeMixer::withSources({"Microphone"});
        breakMixer(mixer);
        MixerState state;
        Shown shown;
        EXPECT_EQ(startMixer(mixer, state, shown.sink()), MixerStartup::NoRecordingSelection);
        EXPECT_TRUE(shown.messages.empty());
        EXPECT_TRUE(state.sources.empty());
    }
}

} // namespace
} // namespace kelvo
