#include "recorder/shows/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cstdlib>
#include <limits>

namespace kelvo {

namespace {

// Enough of the title bar to grab with the mouse.
constexpr int kGripHeight = 24;
constexpr int kGripWidth = 64;

std::int64_t squaredDistance(QPoint p, const QRect& r) {
    const std::int64_t dx = std::max({r.left() - p.x(), 0, p.x() - r.right()});
    const std::int64_t dy = std::max({r.top() - p.y(), 0, p.y() - r.bottom()});
    return dx * dx + dy * dy;
}

int placeWithin(int position, int length, int start, int available) {
    if (length >= available)
        return start;
    return std::clamp(position, start, start + available - length);
}

} // namespace

QPoint reachableWindowPosition(QPoint topLeft, QSize frameSize, const QList<QRect>& screens) {
    if (screens.isEmpty())
        return topLeft;
    const int width = std::max(frameSize.width(), 1);
    const int height = std::max(frameSize.height(), 1);
    const QRect grip(topLeft, QSize(width, std::min(height, kGripHeight)));
    for (const QRect& screen : screens) {
        const QRect visible = grip.intersected(screen);
        if (visible.height() == grip.height() && visible.width() >= std::min(kGripWidth, width))
            return topLeft;
    }
    const QRect* nearest = &screens.front();
    std::int64_t best = std::numeric_limits<std::int64_t>::max();
    for (const QRect& screen : screens) {
        const std::int64_t distance = squaredDistance(topLeft, screen);
        if (distance < best) {
            best = distance;
            nearest = &screen;
        }
    }
    return {placeWithin(topLeft.x(), width, nearest->left(), nearest->width()),
            placeWithin(topLeft.y(), height, nearest->top(), nearest->height())};
}

QPoint reachableWindowPosition(QPoint topLeft, QSize frameSize) {
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    return reachableWindowPosition(topLeft, frameSize, screens);
}

} // namespace kelvo
