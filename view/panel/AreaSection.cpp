#include "view/panel/AreaSection.h"

#include "view/ReadableLabel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace view {

AreaSection::AreaSection(QWidget* parent) : QGroupBox(QStringLiteral("範囲"), parent)
{
    auto* areaColumn = new QVBoxLayout(this);
    auto* rectangleRow = new QHBoxLayout;
    auto* rectangleName = new QLabel(QStringLiteral("範囲:"));
    rectangleEdit_ = new QLineEdit;
    rectangleEdit_->setObjectName(QStringLiteral("rectangle"));
    rectangleEdit_->setPlaceholderText(QStringLiteral("X1,Y1,X2,Y2"));
    rectangleEdit_->setToolTip(QStringLiteral("範囲の左上と右下の画素（両端を含む。x は左から、y は上から）"));
    rectangleEdit_->setAccessibleName(QStringLiteral("範囲 X1,Y1,X2,Y2"));
    rectangleName->setBuddy(rectangleEdit_);
    connect(rectangleEdit_, &QLineEdit::returnPressed, this, [this] { emit rectangleTyped(rectangleEdit_->text()); });
    rectangleRow->addWidget(rectangleName);
    rectangleRow->addWidget(rectangleEdit_, 1);
    areaColumn->addLayout(rectangleRow);
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
    connect(whiteChoice_, &QComboBox::currentIndexChanged, this, &AreaSection::whiteChoiceChanged);
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

namespace {

const QString kRectanglePrefix = QStringLiteral("範囲: ");
const QString kNone = QStringLiteral("なし");

}  // namespace

void AreaSection::setFigures(const QString& text)
{
    QStringList rest = text.split(QLatin1Char('\n'));
    if (!rest.isEmpty() && rest.first().startsWith(kRectanglePrefix)) {
        const QString corners = rest.takeFirst().mid(kRectanglePrefix.size());
        // Half-typed corners stay while the field has the focus.
        if (!(rectangleEdit_->hasFocus() && rectangleEdit_->isModified())) {
            rectangleEdit_->setText(corners == kNone ? QString() : corners);
            rectangleEdit_->setModified(false);
        }
    }
    setReadableText(figuresLabel_, rest.join(QLatin1Char('\n')));
}

QStringList AreaSection::lines() const
{
    const QString corners = rectangleEdit_->text().isEmpty() ? kNone : rectangleEdit_->text();
    return QStringList{kRectanglePrefix + corners} + figuresLabel_->text().split(QLatin1Char('\n'));
}

void AreaSection::discardTyped()
{
    rectangleEdit_->setModified(false);
}

void AreaSection::setRectangleEnabled(bool enabled)
{
    rectangleEdit_->setEnabled(enabled);
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
