#include "view/HistogramWidget.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace view {

HistogramWidget::HistogramWidget(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(110);
    setAccessibleName(QStringLiteral("指数のヒストグラム"));
}

QSize HistogramWidget::sizeHint() const
{
    return {240, 130};
}

QString axisText(double value)
{
    if (value == 0.0) return QStringLiteral("0");
    QString text = QString::number(value, 'f', 2);
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return value > 0 ? QLatin1Char('+') + text : text;
}

void HistogramWidget::setCounts(const std::array<std::uint64_t, engine::kHistogramBins>& counts, const ColourScale& scale,
                                double low, double high)
{
    counts_ = counts;
    scale_ = scale;
    low_ = low;
    high_ = high;
    const double width = (high - low) / engine::kHistogramBins;
    // One decimal as long as the bins' ends are tenths (NDVI's), two otherwise.
    const int decimals = std::abs(width * 10.0 - std::round(width * 10.0)) < 1e-9 &&
                                 std::abs(low * 10.0 - std::round(low * 10.0)) < 1e-9
                             ? 1
                             : 2;
    QStringList description;
    for (int i = 0; i < engine::kHistogramBins; ++i) {
        if (counts[static_cast<std::size_t>(i)] > 0) {
            description << QStringLiteral("%1〜%2: %3")
                               .arg(low + i * width, 0, 'f', decimals)
                               .arg(low + (i + 1) * width, 0, 'f', decimals)
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
        const float middle = low_ == -1.0 && high_ == 1.0
                                 ? -1.0f + (i + 0.5f) / 10.0f
                                 : static_cast<float>(low_ + (i + 0.5) * (high_ - low_) / bins);
        painter.fillRect(QRect(left, plot.bottom() - h + 1, std::max(1, right - left - 1), h),
                         QColor::fromRgb(scale_.colourOf(middle)));
    }
    painter.setPen(palette().text().color());
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    const int base = plot.bottom() + 2 + metrics.ascent();
    std::vector<double> marks{low_};
    if (low_ < 0.0 && high_ > 0.0) marks.push_back(0.0);
    marks.push_back(high_);
    for (const double value : marks) {
        const QString text = axisText(value);
        const int x = plot.left() + static_cast<int>((value - low_) / (high_ - low_) * plot.width());
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + 2);
        const int w = metrics.horizontalAdvance(text);
        painter.drawText(std::clamp(x - w / 2, 0, width() - w), base, text);
    }
}

}  // namespace view
