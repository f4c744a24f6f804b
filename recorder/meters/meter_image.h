// The meter image: the one picture both level meters copy their bars from.
#pragma once

#include <QImage>

class QLabel;

namespace kelvo {

inline constexpr int kMeterImageWidth = 27;
inline constexpr int kMeterImageHeight = 74;

// Draws the 27 x 74 meter image: a black frame around two unlit bars (columns 1-7, 10-16)
// and one lit bar (columns 19-25), red at the top, yellow below, green in segments.
QImage drawMeterImage();

// Gives a meter image holder (Picture3, Picture4) its image. Holders are never shown.
void holdMeterImage(QLabel& holder, const QImage& image);

} // namespace kelvo
