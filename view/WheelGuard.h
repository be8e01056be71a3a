#pragma once
// Spin boxes and lists under a widget take the mouse wheel only once they have the
// keyboard's focus (a click, or Tab): over any other, the wheel scrolls what holds
// them, as the user scrolling down the side panel means, instead of changing a
// reflectance on the way and recomputing the season.

#include <QObject>

class QWidget;

namespace view {

class WheelGuard : public QObject {
public:
    // Watches every spin box and list under root, those made later too; owned by root.
    explicit WheelGuard(QWidget* root);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* root_;
};

}  // namespace view
