#pragma once
// The window's questions asked with Qt's own dialogs, each starting in the folder last
// used; the tests answer them in code instead.

#include "view/ViewerWindow.h"

namespace view {

void useDialogs(ViewerWindow::Prompts& prompts, QWidget* parent);

}  // namespace view
