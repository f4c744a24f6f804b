#include "recorder/shows/window_placement.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

const QSize kWindow(166, 130);

TEST(WindowPlacement, TwipsBecomeWholePixels) {
    EXPECT_EQ(twipsToPixels(22500), 1500);
    EXPECT_EQ(twipsToPixels(7), 0);
    EXPECT_EQ(twipsToPixels(8), 1);
    EXPECT_EQ(twipsToPixels(-8), -1);
    EXPECT_EQ(pixelsToTwips(100), 1500.0f);
}

TEST(WindowPlacement, WindowWhoseTitleCanBeGrabbedStaysWhereItIs) {
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 2560, 1440)};
    EXPECT_EQ(reachableWindowPosition({100, 100}, kWindow, screens), QPoint(100, 100));
    EXPECT_EQ(reachableWindowPosition({4000, 1200}, kWindow, screens), QPoint(4000, 1200));
    // Mostly off the left edge, but enough of the title bar is still there.
    EXPECT_EQ(reachableWindowPosition({-100, 10}, kWindow, screens), QPoint(-100, 10));
}

TEST(WindowPlacement, WindowOffEveryScreenMovesOntoTheNearest) {
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 2560, 1440)};
    // Saved on a wider desktop than this one.
    EXPECT_EQ(reachableWindowPosition({9000, 300}, kWindow, screens), QPoint(4480 - 166, 300));
    EXPECT_EQ(reachableWindowPosition({-5000, -5000}, kWindow, screens), QPoint(0, 0));
    // The title bar above the screen's top cannot be grabbed.
    EXPECT_EQ(reachableWindowPosition({500, -10}, kWindow, screens), QPoint(500, 0));
    EXPECT_EQ(reachableWindowPosition({2000, 1300}, kWindow, screens), QPoint(2000, 1300));
    EXPECT_EQ(reachableWindowPosition({100, 1200}, kWindow, screens), QPoint(100, 1080 - 130));
}

TEST(WindowPlacement, WindowLargerThanTheScreenAlignsWithItsCorner) {
    EXPECT_EQ(reachableWindowPosition({3000, 3000}, QSize(900, 700), {QRect(0, 0, 800, 600)}),
              QPoint(0, 0));
    EXPECT_EQ(reachableWindowPosition({3000, 3000}, kWindow, {}), QPoint(3000, 3000));
}

} // namespace
} // namespace kelvo
