#include "view/panel/ColoursSection.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

#include <cmath>

namespace view {

namespace {

// The names as --index takes them, in the order the batch's help lists them.
constexpr const char* kIndexNames[] = {"ndvi",  "sr",  "dvi",   "rdvi", "savi", "osavi",
                                       "msavi2", "evi2", "wdrvi", "nli",  "mnli", "tdvi"};

engine::VegetationIndex byDefault(const char* name)
{
    return std::get<engine::VegetationIndex>(engine::parseVegetationIndex(name));
}

}  // namespace

std::pair<double, double> rangeLimits(const engine::VegetationIndex& index)
{
    const engine::IndexRange r = engine::indexRange(index);
    // Outward, so that the boxes' two decimals never cut off the index's own ends.
    return {std::floor(r.low * 100.0 + 1e-6) / 100.0, std::ceil(r.high * 100.0 - 1e-6) / 100.0};
}

ColoursSection::ColoursSection(QWidget* parent) : QGroupBox(QStringLiteral("指数と色"), parent)
{
    auto* colourForm = new QFormLayout(this);
    indexBox_ = new QComboBox;
    indexBox_->setObjectName(QStringLiteral("indexChoice"));
    for (const char* name : kIndexNames) {
        indexBox_->addItem(QString::fromLatin1(name).toUpper(), QString::fromLatin1(name));
    }
    indexBox_->setToolTip(QStringLiteral("「NDVI」表示、範囲の数値、ヒストグラムと書き出すラスターの値の指数"));
    parameter_ = new QDoubleSpinBox;
    parameter_->setObjectName(QStringLiteral("indexParameter"));
    parameter_->setRange(0.0, 1.0);
    parameter_->setDecimals(2);
    parameter_->setSingleStep(0.05);
    parameterLabel_ = new QLabel;
    auto* indexRow = new QHBoxLayout;
    indexRow->addWidget(indexBox_, 1);
    indexRow->addWidget(parameterLabel_);
    indexRow->addWidget(parameter_);
    colourForm->addRow(QStringLiteral("指数:"), indexRow);
    paletteBox_ = new QComboBox;
    paletteBox_->addItems(paletteNames());
    colourForm->addRow(QStringLiteral("パレット:"), paletteBox_);
    low_ = new QDoubleSpinBox;
    high_ = new QDoubleSpinBox;
    low_->setObjectName(QStringLiteral("colourLow"));
    high_->setObjectName(QStringLiteral("colourHigh"));
    for (QDoubleSpinBox* box : {low_, high_}) box->setDecimals(2);
    showIndex(index_);
    auto* range = new QHBoxLayout;
    range->addWidget(low_);
    range->addWidget(new QLabel(QStringLiteral("〜")));
    range->addWidget(high_);
    colourForm->addRow(QStringLiteral("表示範囲:"), range);
    connect(paletteBox_, &QComboBox::currentIndexChanged, this, &ColoursSection::changed);
    // Another index, or another parameter: the range fitted to its values again.
    const auto indexEdited = [this] {
        const engine::VegetationIndex chosen = chosenIndex();
        if (chosen == index_) return;
        index_ = chosen;
        showIndex(index_);
        emit changed();
    };
    connect(indexBox_, &QComboBox::currentIndexChanged, this, indexEdited);
    connect(parameter_, &QDoubleSpinBox::valueChanged, this, indexEdited);
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

engine::VegetationIndex ColoursSection::chosenIndex() const
{
    const QByteArray name = indexBox_->currentData().toString().toLatin1();
    engine::VegetationIndex index = byDefault(name.constData());
    // Another index starts from its own default; the same one takes the box's value.
    if (index.hasParameter() && index.kind == index_.kind) index.parameter = parameter_->value();
    return index;
}

void ColoursSection::showIndex(const engine::VegetationIndex& index)
{
    const QSignalBlocker box(indexBox_), parameter(parameter_);
    indexBox_->setCurrentIndex(indexBox_->findData(QString::fromLatin1(index.name())));
    const bool takesOne = index.hasParameter();
    parameter_->setVisible(takesOne);
    parameterLabel_->setVisible(takesOne);
    parameterLabel_->setText(index.kind == engine::IndexKind::Wdrvi ? QStringLiteral("a:") : QStringLiteral("L:"));
    if (takesOne) parameter_->setValue(index.parameter);
    const auto [low, high] = rangeLimits(index);
    setRange(low, high);
}

void ColoursSection::setRange(double low, double high)
{
    const auto [lowest, highest] = rangeLimits(index_);
    const QSignalBlocker lowBlock(low_), highBlock(high_);
    const double step = highest - lowest > 4.0 ? 0.5 : 0.1;
    for (QDoubleSpinBox* box : {low_, high_}) box->setSingleStep(step);
    // Opened wide first, so that neither end refuses its value for the other's old one.
    low_->setRange(lowest, highest - 0.01);
    high_->setRange(lowest + 0.01, highest);
    low_->setValue(low);
    high_->setValue(high);
    high_->setMinimum(low_->value() + 0.01);
    low_->setMaximum(high_->value() - 0.01);
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

engine::VegetationIndex ColoursSection::index() const
{
    return index_;
}

void ColoursSection::setIndex(const engine::VegetationIndex& index)
{
    if (index == index_) return;
    index_ = index;
    showIndex(index_);
    emit changed();
}

ColoursSection::State ColoursSection::state() const
{
    return {paletteBox_->currentIndex(), low_->value(), high_->value(), index_};
}

void ColoursSection::setState(const State& state)
{
    if (state == this->state()) return;
    {
        const QSignalBlocker palette(paletteBox_);
        paletteBox_->setCurrentIndex(state.palette);
        index_ = state.index;
        showIndex(index_);
        setRange(state.low, state.high);
    }
    emit changed();
}

}  // namespace view
