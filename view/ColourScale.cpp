#include "view/ColourScale.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <vector>

namespace view {

namespace {

using engine::Rgb;

// Viridis: even lightness steps, readable with any colour vision and in grey print.
constexpr Rgb kViridis[] = {
    {68, 1, 84},   {72, 40, 120},  {62, 74, 137},  {49, 104, 142}, {38, 130, 142},
    {31, 158, 137}, {53, 183, 121}, {110, 206, 88}, {181, 222, 43}, {253, 231, 37},
};
constexpr Rgb kGrey[] = {{0, 0, 0}, {255, 255, 255}};

engine::Ramp rampOf(Palette p)
{
    switch (p) {
    case Palette::Grey: return engine::rampThrough(kGrey);
    case Palette::Viridis: return engine::rampThrough(kViridis);
    case Palette::RedYellowGreen: break;
    }
    return engine::redYellowGreenRamp();
}

// Steps of 1, 2 or 5 times a power of ten giving about four intervals over span.
double tickStep(double span)
{
    const double raw = span / 4.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw * 0.99) return m * power;
    }
    return 10.0 * power;
}

}  // namespace

QStringList paletteNames()
{
    return {QStringLiteral("赤-黄-緑"), QStringLiteral("グレー"), QStringLiteral("ビリディス（色覚に配慮）")};
}

ColourScale::ColourScale(Palette palette, float low, float high) : low_(low), high_(high)
{
    const engine::Ramp ramp = rampOf(palette);
    for (std::size_t i = 0; i < ramp.size(); ++i) colours_[i] = qRgb(ramp[i].r, ramp[i].g, ramp[i].b);
}

std::vector<LegendTick> legendTicks(double low, double high, int barLeft, int barWidth, const QFontMetrics& metrics)
{
    if (!(high > low)) return {};
    const double step = tickStep(high - low);
    const int decimals = std::max(2, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
    const auto tick = [&](double v) {
        LegendTick t;
        t.value = v;
        t.x = barLeft + static_cast<int>(std::lround((v - low) / (high - low) * (barWidth - 1)));
        t.text = QString::number(std::abs(v) < step * 1e-6 ? 0.0 : v, 'f', decimals);
        const int w = metrics.horizontalAdvance(t.text);
        t.label = QRect(t.x - w / 2, 0, w, metrics.height());
        return t;
    };
    const int gap = metrics.horizontalAdvance(QLatin1Char(' '));
    const auto apart = [gap](const LegendTick& left, const LegendTick& right) {
        return left.label.right() + gap < right.label.left();
    };
    // The ends first; then round values between them not crowding an end, each kept
    // only where its label leaves room beside the last one kept and the high end.
    std::vector<LegendTick> ticks{tick(low)};
    const LegendTick last = tick(high);
    const bool highFits = apart(ticks.front(), last);
    for (double v = std::ceil(low / step - 1e-9) * step; v < high; v += step) {
        if (v - low <= step * 0.45 || high - v <= step * 0.45) continue;
        const LegendTick t = tick(v);
        if (apart(ticks.back(), t) && (!highFits || apart(t, last))) ticks.push_back(t);
    }
    if (highFits) ticks.push_back(last);
    return ticks;
}

void paintLegend(QPainter& painter, const QRect& area, const ColourScale& scale, const QColor& textColour,
                 bool marker)
{
    painter.save();
    const QFontMetrics metrics(painter.font());
    const QString markerLabel = QStringLiteral("-10（値なし）");
    const int swatch = metrics.height();
    const int markerWidth = swatch + 4 + metrics.horizontalAdvance(markerLabel);
    const int margin = std::max(metrics.horizontalAdvance(QStringLiteral("-0.00")) / 2 + 2, 8);
    const int titleWidth = scale.title().isEmpty() ? 0 : metrics.horizontalAdvance(scale.title()) + margin;
    const int barLeft = area.left() + margin + titleWidth;
    const int barRight = area.right() - margin - (marker ? markerWidth + 2 * margin : 0);
    const int barTop = area.top() + 4;
    const int barHeight = std::max(6, area.height() - metrics.height() - 12);
    const int barWidth = std::max(2, barRight - barLeft + 1);
    for (int x = 0; x < barWidth; ++x) {
        const int last = engine::kRampEntries - 1;
        const int index = barWidth > 1 ? static_cast<int>(std::lround(static_cast<double>(last) * x / (barWidth - 1))) : 0;
        painter.fillRect(QRect(barLeft + x, barTop, 1, barHeight), QColor::fromRgb(scale.colourAt(index)));
    }
    painter.setPen(textColour);
    painter.drawRect(QRect(barLeft - 1, barTop - 1, barWidth + 1, barHeight + 1));
    if (titleWidth > 0) {
        painter.drawText(QPoint(area.left() + margin / 2, barTop + (barHeight - metrics.height()) / 2 + metrics.ascent()),
                         scale.title());
    }

    for (const LegendTick& t : legendTicks(scale.low(), scale.high(), barLeft, barWidth, metrics)) {
        painter.drawLine(t.x, barTop + barHeight, t.x, barTop + barHeight + 4);
        painter.drawText(QPoint(t.label.left(), barTop + barHeight + 5 + metrics.ascent()), t.text);
    }

    if (!marker) {
        painter.restore();
        return;
    }
    const int markerLeft = barRight + 2 * margin;
    const QRect box(markerLeft, barTop + (barHeight - swatch) / 2, swatch, swatch);
    painter.fillRect(box, QColor::fromRgb(kMarkerColour));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.drawText(QPoint(box.right() + 5, box.top() + metrics.ascent()), markerLabel);
    painter.restore();
}

}  // namespace view
