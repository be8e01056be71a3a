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

signals:
    void changed();

private:
    QComboBox* paletteBox_ = nullptr;
    QDoubleSpinBox* low_ = nullptr;
    QDoubleSpinBox* high_ = nullptr;
};

}  // namespace view
