#pragma once
// A made-up but realistic frame of the false-colour camera: crop rows (high NIR, low
// red), soil between them, a track, a pond, a stressed patch, black corners the lens
// leaves dark, and a white reference panel (NIR about 243, red about 238) in a dark
// holder near the upper left. For screenshots and measurements; deterministic.

#include "bitmap/Kernels.h"

#include <string>

namespace view {

// Where the white panel lies in a frame of this size, corners inclusive.
bitmap::Rectangle samplePanel(int width, int height);

// Writes the frame as a 24-bit bottom-up BMP; false when it could not be written.
bool writeSampleFrame(const std::string& path, int width, int height);

}  // namespace view
