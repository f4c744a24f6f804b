// The window's geometry is designed in twips (1/1440 inch): 15 twips to a pixel at 96 dpi,
// more pixels on a screen with a higher logical dpi.
#pragma once

#include <cmath>

namespace kelvo {

inline int twipsToPixels(double twips, double logicalDpi) {
    // nearbyint rounds halves to even, as every computed screen value here does.
    return static_cast<int>(std::nearbyint(twips / 15.0 * logicalDpi / 96.0));
}

} // namespace kelvo
