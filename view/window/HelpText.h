#pragma once
// The viewer's 使い方: what each menu does, in the order a user meets it.

#include <QString>

namespace view {

QString viewerHelpText();

}  // namespace view
