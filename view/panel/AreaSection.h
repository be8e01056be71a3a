#pragma once
// The side panel's rectangle: its figures, and the buttons that take the white panel's
// or the dark target's values from it.

#include "view/Figures.h"

#include <QGroupBox>
#include <QStringList>

class QComboBox;
class QLabel;
class QPushButton;

namespace view {

class AreaSection : public QGroupBox {
    Q_OBJECT
public:
    explicit AreaSection(QWidget* parent = nullptr);

    void setFigures(const QString& text);
    QStringList lines() const;
    WhiteChoice whiteChoice() const;
    void setWhiteChoice(WhiteChoice choice);
    // Both buttons need a rectangle with pixels of a bitmap.
    void setButtonsEnabled(bool enabled);

signals:
    void whitePanelRequested();
    void darkTargetRequested();

private:
    QLabel* figuresLabel_ = nullptr;
    QComboBox* whiteChoice_ = nullptr;
    QPushButton* setWhiteButton_ = nullptr;
    QPushButton* setDarkButton_ = nullptr;
};

}  // namespace view
