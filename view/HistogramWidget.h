#pragma once
// The NDVI histogram under the rectangle's figures: the engine's 20 bins over -1..+1,
// each bar in the palette's colour for the middle of its bin.

#include "engine/ops/NdviStats.h"
#include "view/ColourScale.h"

#include <QWidget>

#include <array>
#include <cstdint>

namespace view {

class HistogramWidget : public QWidget {
    Q_OBJECT
public:
    explicit HistogramWidget(QWidget* parent = nullptr);
    void setCounts(const std::array<std::uint64_t, engine::kHistogramBins>& counts, const ColourScale& scale);
    const std::array<std::uint64_t, engine::kHistogramBins>& counts() const noexcept { return counts_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<std::uint64_t, engine::kHistogramBins> counts_{};
    ColourScale scale_;
};

}  // namespace view
