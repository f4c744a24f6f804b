// Positions and the window's geometry are designed in twips (1/1440 inch): 15 twips to a
// pixel at 96 dpi, Qt's logical pixel, and more pixels on a screen with a higher logical dpi.
#pragma once

#include <cmath>

namespace kelvo {

inline constexpr int kTwipsPerPixel = 15;
inline constexpr double kTwipsDpi = 96.0;

// Rounded to the nearest pixel, halves to even, as every computed screen value here is.
inline int twipsToPixels(double twips, double logicalDpi = kTwipsDpi) {
    return static_cast<int>(std::nearbyint(twips / kTwipsPerPixel * logicalDpi / kTwipsDpi));
}

inline float pixelsToTwips(int pixels) {
    return static_cast<float>(pixels) * kTwipsPerPixel;
}

} // namespace kelvo
