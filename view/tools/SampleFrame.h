#pragma once
// A made-up but realistic frame of the false-colour camera: crop rows (high NIR, low
// red), soil between them, a track, a pond, a stressed patch, black corners the lens
// leaves dark, and in a holder near the upper left a white reference panel (NIR about
// 243, red about 238) with a dark target beside it (NIR about 19, red about 17: a few
// per cent reflectance over the sensor's offset). For screenshots and measurements;
// deterministic.

#include "engine/ops/Kernels.h"

#include <string>

namespace view {

// Where the white panel lies in a frame of this size, corners inclusive.
engine::Rectangle samplePanel(int width, int height);
// And the dark target, the same size, to its right.
engine::Rectangle sampleDarkTarget(int width, int height);

// Writes the frame as a 24-bit bottom-up BMP; false when it could not be written.
bool writeSampleFrame(const std::string& path, int width, int height);

}  // namespace view
