#include "recorder/meters/level_meter.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

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
      backing_(kWidth, kHeight, QImage::Format_RGB32),
      requested_(kWidth, kHeight, QImage::Format_RGB32) {
    requested_.fill(Qt::white); // unlike any meter, so the first clear asks for all of it
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    clearMeter();
}

void LevelMeter::clearMeter() {
    QPainter painter(&backing_);
    painter.drawImage(QPoint(0, 0), source_, QRect(kUnlitColumn, 0, kUnlitWidth, kHeight));
    painter.end();
    updateChangedRows();
}

void LevelMeter::drawMeterRise(int levelPercent, int holdPercent) {
    QPainter painter(&backing_);
    const int h = barPixels(clampPercent(levelPercent));
    if (h > 1) {
        const int top = kHeight - h;
        painter.drawImage(QPoint(0, top), source_, QRect(kLitColumn, top, kLitWidth, h));
    }
    drawHoldMarker(painter, holdPercent);
    painter.end();
    updateChangedRows();
}

void LevelMeter::drawMeterFall(int levelPercent, int holdPercent) {
    QPainter painter(&backing_);
    // Rounded as a whole, not per term: 75 - round(1.5) and round(73.5) differ by a row.
    const int u = rowOfPercent(clampPercent(levelPercent));
    if (u > 1) {
        painter.drawImage(QPoint(0, 0), source_, QRect(kUnlitColumn, 0, kUnlitWidth, u));
    }
    drawHoldMarker(painter, holdPercent);
    painter.end();
    updateChangedRows();
}

void LevelMeter::drawHoldMarker(QPainter& painter, int holdPercent) {
    holdPercent = clampPercent(holdPercent);
    if (holdPercent == 0) {
        return;
    }
    const int y = rowOfPercent(holdPercent);
    // Two lines, at y and y + 1; the second falls off the meter when y is its bottom row.
    painter.fillRect(QRect(0, y, kMarkerWidth, 2) & backing_.rect(), markerColour(y));
}

// A draw repaints the whole bar below the level, though mostly it was lit already. Asking
// only for the rows that changed keeps a poll that moves nothing from repainting at all, and
// keeps a rise from reaching the black base, where whatever overlaps the meter's lower edge
// would be repainted with it at every poll.
void LevelMeter::updateChangedRows() {
    constexpr std::size_t rowBytes = kWidth * sizeof(QRgb);
    int first = kHeight;
    int last = -1;
    for (int y = 0; y < kHeight; ++y) {
        if (std::memcmp(backing_.constScanLine(y), requested_.constScanLine(y), rowBytes) != 0) {
            std::memcpy(requested_.scanLine(y), backing_.constScanLine(y), rowBytes);
            first = std::min(first, y);
            last = y;
        }
    }
    if (last >= 0) {
        update(0, first, kWidth, last - first + 1);
    }
}

void LevelMeter::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.drawImage(event->rect(), backing_, event->rect());
}

} // namespace kelvo
