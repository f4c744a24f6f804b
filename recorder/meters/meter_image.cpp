#include "recorder/meters/meter_image.h"

#include <QLabel>
#include <QPixmap>

namespace kelvo {

namespace {

struct Band {
    QRgb unlit;
    QRgb lit;
};

// Three bars, each seven columns wide, between one-column frames: the two unlit ones the
// meters show at rest, then the lit one they copy as the level rises.
constexpr int kBarWidth = 7;
constexpr int kUnlitLeftBar = 1;
constexpr int kUnlitRightBar = kUnlitLeftBar + kBarWidth + 2;
constexpr int kLitBar = kUnlitRightBar + kBarWidth + 2;
static_assert(kLitBar + kBarWidth + 1 == kMeterImageWidth);

// Rows from the top, below the frame: red to kLastRedRow, one pale yellow row, yellow to
// kLastYellowRow, green below.
constexpr int kLastRedRow = 4;
constexpr int kPaleYellowRow = kLastRedRow + 1;
constexpr int kLastYellowRow = 12;

constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kDarkGreen = qRgb(0, 130, 0);

Band bandOfRow(int row) {
    if (row <= kLastRedRow) {
        return {qRgb(132, 0, 0), qRgb(255, 0, 0)};
    }
    if (row == kPaleYellowRow) {
        return {qRgb(132, 130, 66), qRgb(255, 255, 132)};
    }
    if (row <= kLastYellowRow) {
        return {qRgb(132, 130, 66), qRgb(255, 255, 0)};
    }
    // Every third row of the green band stays dark, so the lit bar reads as segments.
    const bool divider = (row - kLastYellowRow - 1) % 3 == 0;
    return {kDarkGreen, divider ? kDarkGreen : qRgb(0, 255, 0)};
}

bool isFrame(int column, int row) {
    if (row == 0 || row == kMeterImageHeight - 1) {
        return true;
    }
    const auto inBar = [column](int first) {
        return column >= first && column < first + kBarWidth;
    };
    return !inBar(kUnlitLeftBar) && !inBar(kUnlitRightBar) && !inBar(kLitBar);
}

} // namespace

QImage drawMeterImage() {
    QImage image(kMeterImageWidth, kMeterImageHeight, QImage::Format_RGB32);
    for (int row = 0; row < kMeterImageHeight; ++row) {
        const Band band = bandOfRow(row);
        for (int column = 0; column < kMeterImageWidth; ++column) {
            QRgb colour = kBlack;
            if (!isFrame(column, row)) {
                colour = column >= kLitBar ? band.lit : band.unlit;
            }
            image.setPixel(column, row, colour);
        }
    }
    return image;
}

void holdMeterImage(QLabel& holder, const QImage& image) {
    holder.setPixmap(QPixmap::fromImage(image));
    holder.setFixedSize(image.size());
    holder.hide();
}

} // namespace kelvo
