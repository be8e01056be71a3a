#pragma once
// Crop to 2048 columns, the window's script: a new 24-bit bitmap exactly 2048 pixels
// wide holding the leftmost 2048 columns of every row, as many rows as the input has.

#include "engine/ops/Kernels.h"
#include "window/Services.h"

namespace window {

// Button1: asks for the bitmap and the output name, writes the cropped bitmap.
// Columns missing from a narrower input are black.
void cropTo2048(Services& services);

}  // namespace window
