// One vertical level meter (Picture1 left, Picture2 right).
//
// The meter keeps its drawing in a backing image of its own, so what it shows is the sum of
// all draws since the last clear, and a window that is covered and uncovered shows it again.
// All calls come from the window's thread.
#pragma once

#include <QImage>
#include <QWidget>

class QPainter;

namespace kelvo {

class LevelMeter : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 10;
    static constexpr int kHeight = 75;

    // meterImage is the picture the bars are copied from (drawMeterImage()). It has one row
    // fewer than the meter; the meter's bottom row (74) is black, continuing the image's
    // bottom border, so every bar stands on a two-pixel black base.
    explicit LevelMeter(const QImage& meterImage, QWidget* parent = nullptr);

    // Paints the whole meter unlit. Leaves no marker.
    void clearMeter();
    // Lights the bar from the bottom up to levelPercent (0..100), then draws the hold marker.
    void drawMeterRise(int levelPercent, int holdPercent);
    // Paints the bar unlit from the top down to levelPercent, then draws the hold marker.
    void drawMeterFall(int levelPercent, int holdPercent);

    // What the meter shows, pixel for pixel.
    const QImage& image() const { return backing_; }

    QSize sizeHint() const override { return {kWidth, kHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawHoldMarker(QPainter& painter, int holdPercent);
    // Asks for a repaint of the rows that differ from the backing image at the last request.
    void updateChangedRows();

    QImage source_;
    QImage backing_;
    QImage requested_; // the backing image as of the last repaint request
};

} // namespace kelvo
