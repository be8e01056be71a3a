#include "view/WheelGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QWidget>

namespace view {

namespace {

// The spin box or list that the widget is, or is part of (a spin box's own line edit),
// below root; nullptr when none.
QWidget* guardedOf(QWidget* w, const QWidget* root)
{
    for (; w && w != root; w = w->parentWidget()) {
        if (qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w)) return w;
    }
    return nullptr;
}

// Qt gives the focus to a widget of Qt::WheelFocus (a spin box's default, and its line
// edit's) before anything else sees the wheel, and the field would then take it.
void takeNoWheelFocus(QWidget* w)
{
    if ((w->focusPolicy() & Qt::WheelFocus) == Qt::WheelFocus) w->setFocusPolicy(Qt::StrongFocus);
}

}  // namespace

WheelGuard::WheelGuard(QWidget* root) : QObject(root), root_(root)
{
    // The application's filter sees each widget's first polish, so that spin boxes and
    // lists made after this one are guarded too.
    qApp->installEventFilter(this);
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (guardedOf(w, root)) takeNoWheelFocus(w);
    }
}

bool WheelGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Wheel && event->type() != QEvent::Polish) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !root_->isAncestorOf(widget)) return false;
    QWidget* guarded = guardedOf(widget, root_);
    if (!guarded) return false;
    if (event->type() == QEvent::Polish) {
        takeNoWheelFocus(widget);
        return false;
    }
    if (guarded->hasFocus()) return false;
    // To the nearest scrolling area that holds it, as if the field were not there. Sent
    // to it directly: Qt passes a wheel event sent by code to no parent.
    for (QWidget* holder = guarded->parentWidget(); holder; holder = holder->parentWidget()) {
        if (auto* area = qobject_cast<QAbstractScrollArea*>(holder)) {
            QCoreApplication::sendEvent(area->viewport(), event);
            break;
        }
    }
    return true;
}

}  // namespace view
