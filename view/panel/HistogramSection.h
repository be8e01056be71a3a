#pragma once
// The side panel's histogram of the index shown, titled with what it counts.

#include "engine/ops/NdviStats.h"
#include "view/ColourScale.h"

#include <QGroupBox>

class QLabel;

namespace view {

class HistogramWidget;

class HistogramSection : public QGroupBox {
    Q_OBJECT
public:
    explicit HistogramSection(QWidget* parent = nullptr);

    void showCounts(const QString& title, const std::array<std::uint64_t, engine::kHistogramBins>& counts,
              const ColourScale& scale, double low = -1.0, double high = 1.0);
    void showTitle(const QString& title);
    // The group's caption: "<label>ヒストグラム".
    void setIndexLabel(const QString& label);
    const HistogramWidget* histogram() const noexcept { return histogram_; }

private:
    QLabel* title_ = nullptr;
    HistogramWidget* histogram_ = nullptr;
};

}  // namespace view
