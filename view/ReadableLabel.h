#pragma once
// Labels whose text changes as the user works (the pointer's pixel, the rectangle's
// figures, the model line): the accessible name says what the label is, and the
// accessible description, kept to the text, what it shows now, so a screen reader
// reads both.

#include <QLabel>
#include <QString>

namespace view {

inline void setReadableText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setAccessibleDescription(text);
}

}  // namespace view
