#include "view/panel/HistogramSection.h"

#include "view/HistogramWidget.h"

#include <QLabel>
#include <QVBoxLayout>

namespace view {

HistogramSection::HistogramSection(QWidget* parent) : QGroupBox(QStringLiteral("NDVIヒストグラム"), parent)
{
    auto* histogramColumn = new QVBoxLayout(this);
    title_ = new QLabel;
    histogram_ = new HistogramWidget;
    histogramColumn->addWidget(title_);
    histogramColumn->addWidget(histogram_);
}

void HistogramSection::showCounts(const QString& title, const std::array<std::uint64_t, engine::kHistogramBins>& counts,
                            const ColourScale& scale, double low, double high)
{
    title_->setText(title);
    histogram_->setCounts(counts, scale, low, high);
}

void HistogramSection::setIndexLabel(const QString& label)
{
    setTitle(label + QStringLiteral("ヒストグラム"));
}

void HistogramSection::showTitle(const QString& title)
{
    title_->setText(title);
}

}  // namespace view
