// Where the main window may go when a show moves it: show files carry positions in twips
// from whatever desktop saved them, and a window restored off every screen could never be
// dragged back.
#pragma once

#include "recorder/shows/twips.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <cstdint>

namespace kelvo {

// The desired top-left corner when the window's title strip can be grabbed on one of the
// screens (their available areas, in the same coordinates); otherwise the nearest place
// that puts the whole window on the screen nearest to the desired corner. No screens: the
// desired corner.
QPoint reachableWindowPosition(QPoint topLeft, QSize frameSize, const QList<QRect>& screens);

// The same against the application's screens.
QPoint reachableWindowPosition(QPoint topLeft, QSize frameSize);

} // namespace kelvo
