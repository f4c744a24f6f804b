#include "recorder/meters/level_meter.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kelvo {

namespace {

// Where the bars lie in the meter image.
constexpr int kUnlitColumn = 10;
constexpr int kUnlitWidth = 10;
constexpr int kLitColumn = 20;
constexpr int kLitWidth = 5;

// The marker is as wide as the lit bar, so that a rise over it covers it completely.
constexpr int kMarkerWidth = kLitWidth;

int clampPercent(int percent) {
    return std::clamp(percent, 0, 100);
}

// Pixels of the bar's height for a percentage, rounded to nearest with halves to even.
// Multiplying first keeps halves exact (for example 2 percent is exactly 1.5 pixels).
int barPixels(int percent) {
    return static_cast<int>(std::nearbyint(percent * LevelMeter::kHeight / 100.0));
}

int rowOfPercent(int percent) {
    return static_cast<int>(
        std::nearbyint(LevelMeter::kHeight - percent * LevelMeter::kHeight / 100.0));
}

QColor markerColour(int row) {
    if (row < 5) {
        return QColor(255, 0, 0);
    }
    if (row < 13) {
        return QColor(255, 255, 1);
    }
    return QColor(192, 255, 192);
}

// The copies address rows down to 74 while the image ends at 73: give the source the meter's
// full height, black below the image like its bottom border.
QImage meterHighSource(const QImage& meterImage) {
    QImage source(std::max(meterImage.width(), kUnlitColumn + kUnlitWidth), LevelMeter::kHeight,
                  QImage::Format_RGB32);
    source.fill(Qt::black);
    QPainter painter(&source);
    painter.drawImage(QPoint(0, 0), meterImage);
    return source;
}

} // namespace

LevelMeter::LevelMeter(const QImage& meterImage, QWidget* parent)
    : QWidget(parent), source_(meterHighSource(meterImage)),
      backing_(kWidth, kHeight, QImage::Format_RGB32) {
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    clearMeter();
}

void LevelMeter::clearMeter() {
    QPainter painter(&backing_);
    painter.drawImage(QPoint(0, 0), source_, QRect(kUnlitColumn, 0, kUnlitWidth, kHeight));
    painter.end();
    update();
}

void LevelMeter::drawMeterRise(int levelPercent, int holdPercent) {
    QPainter painter(&backing_);
    QRect changed;
    const int h = barPixels(clampPercent(levelPercent));
    if (h > 1) {
        const int top = kHeight - h;
        painter.drawImage(QPoint(0, top), source_, QRect(kLitColumn, top, kLitWidth, h));
        changed = QRect(0, top, kLitWidth, h);
    }
    changed |= drawHoldMarker(painter, holdPercent);
    painter.end();
    if (!changed.isEmpty()) {
        update(changed);
    }
}

void LevelMeter::drawMeterFall(int levelPercent, int holdPercent) {
    QPainter painter(&backing_);
    QRect changed;
    // Rounded as a whole, not per term: 75 - round(1.5) and round(73.5) differ by a row.
    const int u = rowOfPercent(clampPercent(levelPercent));
    if (u > 1) {
        painter.drawImage(QPoint(0, 0), source_, QRect(kUnlitColumn, 0, kUnlitWidth, u));
        changed = QRect(0, 0, kUnlitWidth, u);
    }
    changed |= drawHoldMarker(painter, holdPercent);
    painter.end();
    if (!changed.isEmpty()) {
        update(changed);
    }
}

QRect LevelMeter::drawHoldMarker(QPainter& painter, int holdPercent) {
    holdPercent = clampPercent(holdPercent);
    if (holdPercent == 0) {
        return {};
    }
    const int y = rowOfPercent(holdPercent);
    // Two lines, at y and y + 1; the second falls off the meter when y is its bottom row.
    const QRect marker = QRect(0, y, kMarkerWidth, 2) & backing_.rect();
    painter.fillRect(marker, markerColour(y));
    return marker;
}

void LevelMeter::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.drawImage(event->rect(), backing_, event->rect());
}

} // namespace kelvo
