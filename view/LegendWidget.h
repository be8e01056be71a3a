#pragma once
// The legend under the NDVI view, also drawn under an exported view.

#include "view/ColourScale.h"

#include <QWidget>

namespace view {

inline constexpr int kLegendHeight = 52;

class LegendWidget : public QWidget {
public:
    explicit LegendWidget(const ColourScale* scale, QWidget* parent = nullptr);
    // Another scale to show, with or without the marker's swatch.
    void setScale(const ColourScale* scale, bool marker);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const ColourScale* scale_;
    bool marker_ = true;
};

}  // namespace view
