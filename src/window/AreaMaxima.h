#pragma once
// Area channel maxima, the window's script: the largest red, green and blue byte
// values inside a rectangle of a 24-bit bitmap, shown in the window's result labels.

#include "engine/ops/Kernels.h"
#include "window/Services.h"

namespace window {

// Button2: reads Edit1..Edit4 (x1, y1, x2, y2) and shows red, green and blue maxima
// in Label8, Label9, Label10 once "完了" is dismissed.
void findAreaMaxima(Services& services);

}  // namespace window
