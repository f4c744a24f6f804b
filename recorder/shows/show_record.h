// The values one show file holds, in the order of its 19 fields.
#pragma once

#include "recorder/schedule/time_of_day.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kelvo {

// Weekday fields run Sunday (index 0) to Saturday (index 6).
inline constexpr int kWeekdays = 7;
// The input-level slider's range: 0 at the top (loudest) to 100.
inline constexpr std::int32_t kMinInputLevel = 0;
inline constexpr std::int32_t kMaxInputLevel = 100;

// The show an empty show name stands for.
inline constexpr char kDefaultShowName[] = "Default";

// What the saver writes. Default-constructed it holds the window's start-up defaults.
struct ShowRecord {
    TimeOfDay startTime{1, 0, 0};
    TimeOfDay stopTime{5, 0, 0};
    std::string outputFormat = "Windows Wave (WAV)";
    std::string sampleRate = "44.1 kHz (CD)";
    std::string mp3Quality = "64 Kb/sec";
    std::string channels = "2";
    float windowLeft = 0; // twips
    float windowTop = 0;  // twips
    std::string sourceName;
    std::int32_t inputLevel = 50;
    std::string webcastAddress;
    std::string wmaQuality;
    std::array<std::int16_t, kWeekdays> weekdays{1, 1, 1, 1, 1, 1, 1};

    friend bool operator==(const ShowRecord&, const ShowRecord&) = default;
};

// What the reader found in a file's last complete record. A field the reader could not
// convert is empty, and the control it belongs to keeps its value.
struct LoadedShowRecord {
    std::optional<TimeOfDay> startTime;
    std::optional<TimeOfDay> stopTime;
    std::optional<std::string> outputFormat;
    std::optional<std::string> sampleRate;
    std::optional<std::string> mp3Quality;
    std::optional<std::string> channels;
    // Whole twips. Kept wider than 16 bits so that a window on a wide desktop comes back
    // where it was; whether the screens still show that place is decided when applying.
    std::optional<std::int32_t> windowLeft;
    std::optional<std::int32_t> windowTop;
    std::optional<std::string> sourceName;
    std::optional<std::int32_t> inputLevel;
    std::optional<std::string> webcastAddress;
    std::optional<std::string> wmaQuality;
    std::array<std::optional<std::int16_t>, kWeekdays> weekdays;

    friend bool operator==(const LoadedShowRecord&, const LoadedShowRecord&) = default;
};

} // namespace kelvo
