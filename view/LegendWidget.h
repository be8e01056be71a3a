#pragma once
// The legend under the NDVI view, also drawn under an exported view.

#include "view/ColourScale.h"

#include <QWidget>

namespace view {

inline constexpr int kLegendHeight = 52;

class LegendWidget : public QWidget {
public:
    explicit LegendWidget(const ColourScale* scale, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const ColourScale* scale_;
};

}  // namespace view
