// Zoom about the pointer, its limits, and panning with the middle button.
#include "ViewerFixture.h"

#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

using namespace view_testing;

void wheel(view::Canvas* canvas, QPointF at, int notches)
{
    QWheelEvent event(at, canvas->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas->viewport(), &event);
}

TEST(ZoomTest, WheelKeepsThePixelUnderThePointerUpToThirtyTwoTimes)
{
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("big.bmp"), testing_support::encodeBmp(testing_support::asymmetricPicture(1600, 1200)));
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("big.bmp")));
    view::Canvas* canvas = v.window.canvas();
    const double fit = canvas->zoom();
    ASSERT_LT(fit, 0.6);
    // From 1:1, where the picture overfills the view both ways (a smaller one is centred).
    canvas->showActualSize();
    QApplication::processEvents();

    const QPointF at = canvas->centreOfPixel(500, 100);
    for (int notches : {1, 3, 5, 4, -2, 30}) {
        wheel(canvas, at, notches);
        ASSERT_EQ(canvas->pixelAt(at), (view::PixelPoint{500, 100})) << "after " << notches << " notches, zoom " << canvas->zoom();
    }
    EXPECT_EQ(canvas->zoom(), view::Canvas::kMaxZoom);
    EXPECT_TRUE(v.hover(500, 100).startsWith(QStringLiteral("x=500 y=100  ")));

    // The middle button drags the picture along: 64 screen pixels are 2 pixels at 32x.
    const QPoint start = at.toPoint();
    QTest::mousePress(canvas->viewport(), Qt::MiddleButton, {}, start);
    QTest::mouseMove(canvas->viewport(), start + QPoint(32, 0));
    QTest::mouseMove(canvas->viewport(), start + QPoint(64, 0));
    QTest::mouseRelease(canvas->viewport(), Qt::MiddleButton, {}, start + QPoint(64, 0));
    EXPECT_EQ(canvas->pixelAt(at), (view::PixelPoint{498, 100}));

    canvas->showActualSize();
    EXPECT_EQ(canvas->zoom(), 1.0);
    canvas->fitToWindow();
    QApplication::processEvents();  // the scroll bars go
    EXPECT_EQ(canvas->zoom(), fit);
}

TEST(ZoomTest, SpaceHeldTurnsADragIntoAPan)
{
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("big.bmp"), testing_support::encodeBmp(testing_support::asymmetricPicture(1600, 1200)));
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("big.bmp")));
    view::Canvas* canvas = v.window.canvas();
    canvas->zoomAbout(4.0, canvas->centreOfPixel(800, 600));
    const QPointF at = canvas->centreOfPixel(800, 600);
    QTest::keyPress(canvas, Qt::Key_Space);
    QTest::mousePress(canvas->viewport(), Qt::LeftButton, {}, at.toPoint());
    QTest::mouseMove(canvas->viewport(), at.toPoint() + QPoint(0, 20));
    QTest::mouseMove(canvas->viewport(), at.toPoint() + QPoint(0, 40));
    QTest::mouseRelease(canvas->viewport(), Qt::LeftButton, {}, at.toPoint() + QPoint(0, 40));
    QTest::keyRelease(canvas, Qt::Key_Space);
    EXPECT_EQ(canvas->pixelAt(at), (view::PixelPoint{800, 590}));  // 40 screen pixels at 4x
    EXPECT_FALSE(canvas->selection().has_value());
}

}  // namespace
