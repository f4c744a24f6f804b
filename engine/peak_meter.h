// Peak magnitude of one captured buffer, in 16-bit sample units (full scale 32767), and the
// sum of its squared samples in the same units, for an RMS level; one pass over the data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvo::engine {

struct Peaks {
    std::uint16_t left = 0;
    std::uint16_t right = 0;
    std::uint64_t sumOfSquares = 0; // 8-bit samples count as (b - 128) * 256
};

// selector 1: 8-bit unsigned mono, both channels carry the same value.
// selector 2: 16-bit signed little-endian stereo, left sample first.
// Any other selector measures nothing. Silence gives 0 in both formats.
Peaks measurePeaks(unsigned selector, const std::uint8_t* data, std::size_t bytes);

} // namespace kelvo::engine
