#include "view/panel/AreaSection.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace view {

AreaSection::AreaSection(QWidget* parent) : QGroupBox(QStringLiteral("範囲"), parent)
{
    auto* areaColumn = new QVBoxLayout(this);
    figuresLabel_ = new QLabel;
    figuresLabel_->setObjectName(QStringLiteral("figures"));
    figuresLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    figuresLabel_->setAccessibleName(QStringLiteral("範囲の数値"));
    figuresLabel_->setWordWrap(true);
    areaColumn->addWidget(figuresLabel_);
    auto* whiteRow = new QHBoxLayout;
    whiteChoice_ = new QComboBox;
    whiteChoice_->addItems({QStringLiteral("最大値"), QStringLiteral("平均値"), QStringLiteral("99パーセンタイル")});
    whiteChoice_->setToolTip(QStringLiteral("光沢（グレア）のある白色板には平均値か99パーセンタイルを使います"));
    whiteChoice_->setAccessibleName(QStringLiteral("白色板の値の取り方"));
    setWhiteButton_ = new QPushButton(QStringLiteral("白色板に設定"));
    setWhiteButton_->setToolTip(QStringLiteral("範囲の赤バイトをNIR、緑バイトをRedの白色板の値にします"));
    connect(setWhiteButton_, &QPushButton::clicked, this, &AreaSection::whitePanelRequested);
    whiteRow->addWidget(whiteChoice_);
    whiteRow->addWidget(setWhiteButton_, 1);
    areaColumn->addLayout(whiteRow);
    setDarkButton_ = new QPushButton(QStringLiteral("暗色板に設定"));
    setDarkButton_->setToolTip(QStringLiteral("範囲の赤バイトと緑バイトの平均値を暗色板の値にし、範囲を暗色板として印を付けます"));
    connect(setDarkButton_, &QPushButton::clicked, this, &AreaSection::darkTargetRequested);
    areaColumn->addWidget(setDarkButton_);
}

void AreaSection::setFigures(const QString& text)
{
    figuresLabel_->setText(text);
}

QStringList AreaSection::lines() const
{
    return figuresLabel_->text().split(QLatin1Char('\n'));
}

WhiteChoice AreaSection::whiteChoice() const
{
    return static_cast<WhiteChoice>(whiteChoice_->currentIndex());
}

void AreaSection::setWhiteChoice(WhiteChoice choice)
{
    whiteChoice_->setCurrentIndex(static_cast<int>(choice));
}

void AreaSection::setButtonsEnabled(bool enabled)
{
    setWhiteButton_->setEnabled(enabled);
    setDarkButton_->setEnabled(enabled);
}

}  // namespace view
