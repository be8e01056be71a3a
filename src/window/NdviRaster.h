#pragma once
// The NDVI raster, the window's script: every pixel of a false-colour bitmap
// (near-infrared in the red byte, visible red in the green byte) becomes one float32
// NDVI value, both bands first scaled by the white reference panel's values. The
// output is headerless little-endian float32, top image row first, rows contiguous.

#include "engine/ops/Kernels.h"
#include "window/Services.h"

namespace window {

// Button3: asks for the bitmap and the raw file, reads Edit5 (NIR white) and Edit6
// (red white), writes the raster.
void makeNdviRaster(Services& services);

}  // namespace window
