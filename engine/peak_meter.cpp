#include "engine/peak_meter.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvo::engine {
namespace {

constexpr int kFullScale = 32767;

#if defined(__SSE2__)
std::uint64_t sumLanes64(__m128i v) {
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return lanes[0] + lanes[1];
}
#endif

// Largest |b - 128| of unsigned 8-bit samples, and the sum of its squares.
unsigned maxDeviation8(const std::uint8_t* p, std::size_t n, std::uint64_t& squares) {
    unsigned m = 0;
    std::size_t i = 0;
    squares = 0;
#if defined(__SSE2__)
    const __m128i mid = _mm_set1_epi8(static_cast<char>(128));
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    __m128i total = zero;
    while (i + 16 <= n) {
        // 32-bit lanes gain at most 2 * 128^2 twice a vector: flushed long before they fill.
        __m128i sq = zero;
        for (std::size_t end = std::min(n - n % 16, i + 16 * 16384); i < end; i += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            // |b - 128| without leaving unsigned bytes: max(b, 128) - min(b, 128).
            __m128i d = _mm_sub_epi8(_mm_max_epu8(v, mid), _mm_min_epu8(v, mid));
            acc = _mm_max_epu8(acc, d);
            __m128i lo = _mm_unpacklo_epi8(d, zero), hi = _mm_unpackhi_epi8(d, zero);
            sq = _mm_add_epi32(sq, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
        }
        total = _mm_add_epi64(
            total, _mm_add_epi64(_mm_unpacklo_epi32(sq, zero), _mm_unpackhi_epi32(sq, zero)));
    }
    squares = sumLanes64(total);
    alignas(16) std::uint8_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
    for (std::uint8_t lane : lanes)
        m = std::max<unsigned>(m, lane);
#endif
    for (; i < n; ++i) {
        int d = p[i] - 128;
        m = std::max<unsigned>(m, static_cast<unsigned>(d < 0 ? -d : d));
        squares += static_cast<std::uint64_t>(d * d);
    }
    return m;
}

// min(|s|, 32767) of one 16-bit sample: the most negative sample is full scale, not 32768.
inline unsigned magnitude16(std::int16_t s) {
    int v = s < 0 ? -static_cast<int>(s) : s;
    return static_cast<unsigned>(std::min(v, kFullScale));
}

Peaks maxMagnitudeStereo16(const std::uint8_t* p, std::size_t frames) {
    unsigned left = 0;
    unsigned right = 0;
    std::uint64_t squares = 0;
    std::size_t f = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    __m128i total = zero;
    // Four frames per vector; lanes alternate left, right, so maxima keep their channel.
    for (; f + 4 <= frames; f += 4) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + f * 4));
        // Saturating 0 - s turns -32768 into 32767, which is exactly min(|s|, 32767).
        __m128i mag = _mm_max_epi16(v, _mm_subs_epi16(zero, v));
        acc = _mm_max_epi16(acc, mag);
        // L^2 + R^2 of each frame reaches 2^31 at most: unsigned 32 bits, widened at once.
        __m128i sq = _mm_madd_epi16(v, v);
        total = _mm_add_epi64(
            total, _mm_add_epi64(_mm_unpacklo_epi32(sq, zero), _mm_unpackhi_epi32(sq, zero)));
    }
    squares = sumLanes64(total);
    alignas(16) std::int16_t lanes[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
    for (int i = 0; i < 8; i += 2) {
        left = std::max<unsigned>(left, static_cast<unsigned>(lanes[i]));
        right = std::max<unsigned>(right, static_cast<unsigned>(lanes[i + 1]));
    }
#endif
    for (; f < frames; ++f) {
        std::int16_t s[2];
        std::memcpy(s, p + f * 4, sizeof s); // little-endian host, as every Linux target we ship
        left = std::max(left, magnitude16(s[0]));
        right = std::max(right, magnitude16(s[1]));
        squares +=
            static_cast<std::uint64_t>(s[0] * s[0]) + static_cast<std::uint64_t>(s[1] * s[1]);
    }
    return {static_cast<std::uint16_t>(left), static_cast<std::uint16_t>(right), squares};
}

} // namespace

Peaks measurePeaks(unsigned selector, const std::uint8_t* data, std::size_t bytes) {
    if (selector == 1) {
        std::uint64_t squares = 0;
        unsigned v = std::min(maxDeviation8(data, bytes, squares) * 256, unsigned{kFullScale});
        return {static_cast<std::uint16_t>(v), static_cast<std::uint16_t>(v), squares * 65536};
    }
    if (selector == 2)
        return maxMagnitudeStereo16(data, bytes / 4);
    return {};
}

} // namespace kelvo::engine
