#pragma once
// The side panel's NDVI colours: the palette and the range of values it spans.

#include "view/ColourScale.h"

#include <QGroupBox>

class QComboBox;
class QDoubleSpinBox;

namespace view {

class ColoursSection : public QGroupBox {
    Q_OBJECT
public:
    explicit ColoursSection(QWidget* parent = nullptr);

    ColourScale scale() const;
    int paletteIndex() const;
    // Emits changed() when the index is another one.
    void setPaletteIndex(int index);
    // The palette and the range together, as one undo step keeps them.
    struct State {
        int palette = 0;
        double low = 0, high = 0;
        bool operator==(const State&) const = default;
    };
    State state() const;
    // Emits changed() once, when it differs.
    void setState(const State& state);

signals:
    void changed();

private:
    QComboBox* paletteBox_ = nullptr;
    QDoubleSpinBox* low_ = nullptr;
    QDoubleSpinBox* high_ = nullptr;
};

}  // namespace view
