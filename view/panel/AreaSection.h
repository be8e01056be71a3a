#pragma once
// The side panel's rectangle: its corners, which may be typed (Enter applies them), its
// figures, and the buttons that take the white panel's or the dark target's values
// from it.

#include "view/Figures.h"

#include <QGroupBox>
#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace view {

class AreaSection : public QGroupBox {
    Q_OBJECT
public:
    explicit AreaSection(QWidget* parent = nullptr);

    // The figures' lines; the first, "範囲: X1,Y1,X2,Y2" or "範囲: なし", fills the
    // rectangle's field, unless the user is typing in it.
    void setFigures(const QString& text);
    QStringList lines() const;
    // Forgets what was typed: the next setFigures() shows the rectangle in use again.
    void discardTyped();
    void setRectangleEnabled(bool enabled);
    WhiteChoice whiteChoice() const;
    void setWhiteChoice(WhiteChoice choice);
    // Both buttons need a rectangle with pixels of a bitmap.
    void setButtonsEnabled(bool enabled);

signals:
    // Enter in the rectangle's field, with its text.
    void rectangleTyped(const QString& text);
    void whitePanelRequested();
    void whiteChoiceChanged();
    void darkTargetRequested();

private:
    QLineEdit* rectangleEdit_ = nullptr;
    QLabel* figuresLabel_ = nullptr;
    QComboBox* whiteChoice_ = nullptr;
    QPushButton* setWhiteButton_ = nullptr;
    QPushButton* setDarkButton_ = nullptr;
};

}  // namespace view
