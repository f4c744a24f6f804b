#include "recorder/meters/meter_image.h"

#include <QLabel>
#include <QPixmap>

namespace kelvo {

namespace {

struct Band {
    QRgb unlit;
    QRgb lit;
};

constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kDarkGreen = qRgb(0, 130, 0);

Band bandOfRow(int row) {
    if (row <= 4) {
        return {qRgb(132, 0, 0), qRgb(255, 0, 0)};
    }
    if (row == 5) {
        return {qRgb(132, 130, 66), qRgb(255, 255, 132)};
    }
    if (row <= 12) {
        return {qRgb(132, 130, 66), qRgb(255, 255, 0)};
    }
    // Every third row of the green band stays dark, so the lit bar reads as segments.
    const bool divider = (row - 13) % 3 == 0;
    return {kDarkGreen, divider ? kDarkGreen : qRgb(0, 255, 0)};
}

bool isFrame(int column, int row) {
    if (row == 0 || row == kMeterImageHeight - 1) {
        return true;
    }
    switch (column) {
    case 0:
    case 8:
    case 9:
    case 17:
    case 18:
    case 26:
        return true;
    default:
        return false;
    }
}

} // namespace

QImage drawMeterImage() {
    QImage image(kMeterImageWidth, kMeterImageHeight, QImage::Format_RGB32);
    for (int row = 0; row < kMeterImageHeight; ++row) {
        const Band band = bandOfRow(row);
        for (int column = 0; column < kMeterImageWidth; ++column) {
            QRgb colour = kBlack;
            if (!isFrame(column, row)) {
                colour = column >= 19 ? band.lit : band.unlit;
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
