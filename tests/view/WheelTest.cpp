// The wheel over the side panel scrolls it; a field's value changes by the wheel only
// once the field has the focus.

#include "ViewerFixture.h"

#include <QAbstractSpinBox>
#include <QDoubleSpinBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

using view_testing::Viewer;

void wheelDown(QWidget* over)
{
    const QPointF at(over->width() / 2.0, over->height() / 2.0);
    QWheelEvent event(at, over->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(over, &event);
}

TEST(Wheel, ScrollsThePanelOverAnUnfocusedFieldAndTurnsAFocusedOne)
{
    Viewer v;
    v.window.resize(1000, 420);  // short: the panel scrolls
    v.window.show();
    QScrollArea* panel = nullptr;
    for (QScrollArea* area : v.window.findChildren<QScrollArea*>()) {
        if (area->widget() && !area->widget()->findChildren<QDoubleSpinBox*>().isEmpty()) panel = area;
    }
    ASSERT_NE(panel, nullptr);
    QDoubleSpinBox* reflectance = nullptr;
    for (QDoubleSpinBox* box : panel->widget()->findChildren<QDoubleSpinBox*>()) {
        if (box->isEnabled() && box->value() > box->minimum()) reflectance = box;
    }
    ASSERT_NE(reflectance, nullptr);
    panel->ensureWidgetVisible(reflectance);
    QApplication::processEvents();
    const double before = reflectance->value();
    const int scrolled = panel->verticalScrollBar()->value();
    ASSERT_LT(scrolled, panel->verticalScrollBar()->maximum());

    wheelDown(reflectance);
    QApplication::processEvents();
    EXPECT_EQ(reflectance->value(), before);
    EXPECT_FALSE(reflectance->hasFocus());
    EXPECT_GT(panel->verticalScrollBar()->value(), scrolled);

    panel->ensureWidgetVisible(reflectance);
    reflectance->setFocus();
    QApplication::processEvents();
    wheelDown(reflectance);
    QApplication::processEvents();
    EXPECT_LT(reflectance->value(), before);
}

}  // namespace
