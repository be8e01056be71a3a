#include "view/panel/ColoursSection.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

namespace view {

ColoursSection::ColoursSection(QWidget* parent) : QGroupBox(QStringLiteral("NDVIの色"), parent)
{
    auto* colourForm = new QFormLayout(this);
    paletteBox_ = new QComboBox;
    paletteBox_->addItems(paletteNames());
    colourForm->addRow(QStringLiteral("パレット:"), paletteBox_);
    low_ = new QDoubleSpinBox;
    high_ = new QDoubleSpinBox;
    low_->setObjectName(QStringLiteral("colourLow"));
    high_->setObjectName(QStringLiteral("colourHigh"));
    low_->setRange(-1.0, 0.99);
    high_->setRange(-0.99, 1.0);
    low_->setValue(-1.0);
    high_->setValue(1.0);
    for (QDoubleSpinBox* box : {low_, high_}) {
        box->setDecimals(2);
        box->setSingleStep(0.1);
    }
    auto* range = new QHBoxLayout;
    range->addWidget(low_);
    range->addWidget(new QLabel(QStringLiteral("〜")));
    range->addWidget(high_);
    colourForm->addRow(QStringLiteral("表示範囲:"), range);
    connect(paletteBox_, &QComboBox::currentIndexChanged, this, &ColoursSection::changed);
    // Each end stays clear of the other, so the range never closes up.
    connect(low_, &QDoubleSpinBox::valueChanged, this, [this](double v) {
        high_->setMinimum(v + 0.01);
        emit changed();
    });
    connect(high_, &QDoubleSpinBox::valueChanged, this, [this](double v) {
        low_->setMaximum(v - 0.01);
        emit changed();
    });
}

ColourScale ColoursSection::scale() const
{
    return ColourScale(static_cast<Palette>(paletteBox_->currentIndex()), static_cast<float>(low_->value()),
                       static_cast<float>(high_->value()));
}

int ColoursSection::paletteIndex() const
{
    return paletteBox_->currentIndex();
}

void ColoursSection::setPaletteIndex(int index)
{
    paletteBox_->setCurrentIndex(index);
}

ColoursSection::State ColoursSection::state() const
{
    return {paletteBox_->currentIndex(), low_->value(), high_->value()};
}

void ColoursSection::setState(const State& state)
{
    if (state == this->state()) return;
    {
        const QSignalBlocker palette(paletteBox_), low(low_), high(high_);
        paletteBox_->setCurrentIndex(state.palette);
        // Opened wide first, so that neither end refuses its value for the other's old one.
        low_->setMaximum(0.99);
        high_->setMinimum(-0.99);
        low_->setValue(state.low);
        high_->setValue(state.high);
        high_->setMinimum(state.low + 0.01);
        low_->setMaximum(state.high - 0.01);
    }
    emit changed();
}

}  // namespace view
