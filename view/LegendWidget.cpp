#include "view/LegendWidget.h"

#include <QPainter>

namespace view {

LegendWidget::LegendWidget(const ColourScale* scale, QWidget* parent) : QWidget(parent), scale_(scale)
{
    setFixedHeight(kLegendHeight);
    setAccessibleName(QStringLiteral("凡例"));
}

void LegendWidget::setScale(const ColourScale* scale, bool marker)
{
    scale_ = scale;
    marker_ = marker;
    update();
}

void LegendWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    paintLegend(painter, rect().adjusted(0, 4, 0, -2), *scale_, palette().windowText().color(), marker_);
}

}  // namespace view
