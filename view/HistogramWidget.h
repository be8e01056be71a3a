#pragma once
// The index's histogram under the rectangle's figures: 20 bins over the index's range
// (the engine's -1..+1 for NDVI), each bar in the palette's colour for the middle of
// its bin.

#include "engine/ops/NdviStats.h"
#include "view/ColourScale.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>

namespace view {

class HistogramWidget : public QWidget {
    Q_OBJECT
public:
    explicit HistogramWidget(QWidget* parent = nullptr);
    // The counts of 20 bins spanning low..high.
    void setCounts(const std::array<std::uint64_t, engine::kHistogramBins>& counts, const ColourScale& scale,
                   double low = -1.0, double high = 1.0);
    double low() const noexcept { return low_; }
    double high() const noexcept { return high_; }
    const std::array<std::uint64_t, engine::kHistogramBins>& counts() const noexcept { return counts_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<std::uint64_t, engine::kHistogramBins> counts_{};
    ColourScale scale_;
    double low_ = -1.0, high_ = 1.0;
};

// The axis's label of an end or of 0: "-1", "0", "+1", "+0.86", "+10".
QString axisText(double value);

}  // namespace view
