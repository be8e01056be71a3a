#pragma once
// The side panel's colours of the index view: which vegetation index it shows (with
// its parameter where it takes one), the palette and the range of values it spans.

#include "engine/ops/VegetationIndex.h"
#include "view/ColourScale.h"

#include <QGroupBox>

class QComboBox;
class QDoubleSpinBox;
class QLabel;

namespace view {

class ColoursSection : public QGroupBox {
    Q_OBJECT
public:
    explicit ColoursSection(QWidget* parent = nullptr);

    ColourScale scale() const;
    int paletteIndex() const;
    // Emits changed() when the index is another one.
    void setPaletteIndex(int index);
    // The index chosen, NDVI by default.
    engine::VegetationIndex index() const;
    // The index, and the range fitted to it; emits changed() once, when it differs.
    void setIndex(const engine::VegetationIndex& index);
    // The index, the palette and the range together, as one undo step keeps them.
    struct State {
        int palette = 0;
        double low = 0, high = 0;
        engine::VegetationIndex index;
        bool operator==(const State&) const = default;
    };
    State state() const;
    // Emits changed() once, when it differs.
    void setState(const State& state);

signals:
    void changed();

private:
    // The combo and the parameter's box showing index, the range's limits its range's,
    // without signals.
    void showIndex(const engine::VegetationIndex& index);
    // The index the combo and the parameter's box say.
    engine::VegetationIndex chosenIndex() const;
    void setRange(double low, double high);

    QComboBox* indexBox_ = nullptr;
    QLabel* parameterLabel_ = nullptr;
    QDoubleSpinBox* parameter_ = nullptr;
    QComboBox* paletteBox_ = nullptr;
    QDoubleSpinBox* low_ = nullptr;
    QDoubleSpinBox* high_ = nullptr;
    engine::VegetationIndex index_;
};

// The index's values the range boxes allow: its range, widened to whole hundredths.
std::pair<double, double> rangeLimits(const engine::VegetationIndex& index);

}  // namespace view
