#include "view/HistogramWidget.h"

#include <QPainter>

#include <algorithm>

namespace view {

HistogramWidget::HistogramWidget(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(110);
    setAccessibleName(QStringLiteral("NDVIヒストグラム"));
}

QSize HistogramWidget::sizeHint() const
{
    return {240, 130};
}

void HistogramWidget::setCounts(const std::array<std::uint64_t, engine::kHistogramBins>& counts, const ColourScale& scale)
{
    counts_ = counts;
    scale_ = scale;
    QStringList description;
    for (int i = 0; i < engine::kHistogramBins; ++i) {
        if (counts[static_cast<std::size_t>(i)] > 0) {
            description << QStringLiteral("%1〜%2: %3")
                               .arg(-1.0 + i / 10.0, 0, 'f', 1)
                               .arg(-1.0 + (i + 1) / 10.0, 0, 'f', 1)
                               .arg(counts[static_cast<std::size_t>(i)]);
        }
    }
    setAccessibleDescription(description.join(QStringLiteral("、")));
    update();
}

void HistogramWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const QFontMetrics metrics(font());
    const int labelHeight = metrics.height() + 2;
    const QRect plot = rect().adjusted(8, 6, -8, -labelHeight - 4);
    const std::uint64_t highest = *std::max_element(counts_.begin(), counts_.end());
    const int bins = engine::kHistogramBins;
    for (int i = 0; i < bins; ++i) {
        const int left = plot.left() + plot.width() * i / bins;
        const int right = plot.left() + plot.width() * (i + 1) / bins;
        const std::uint64_t n = counts_[static_cast<std::size_t>(i)];
        if (n == 0 || highest == 0) continue;
        const int h = std::max(1, static_cast<int>(static_cast<double>(plot.height()) * n / highest));
        const float middle = -1.0f + (i + 0.5f) / 10.0f;
        painter.fillRect(QRect(left, plot.bottom() - h + 1, std::max(1, right - left - 1), h),
                         QColor::fromRgb(scale_.colourOf(middle)));
    }
    painter.setPen(palette().text().color());
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    const int base = plot.bottom() + 2 + metrics.ascent();
    for (const auto& [value, text] : {std::pair{-1.0, QStringLiteral("-1")}, std::pair{0.0, QStringLiteral("0")},
                                      std::pair{1.0, QStringLiteral("+1")}}) {
        const int x = plot.left() + static_cast<int>((value + 1.0) / 2.0 * plot.width());
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + 2);
        const int w = metrics.horizontalAdvance(text);
        painter.drawText(std::clamp(x - w / 2, 0, width() - w), base, text);
    }
}

}  // namespace view
