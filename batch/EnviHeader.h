#pragma once
// Writing the NDVI raster's ENVI header beside it (the text is the engine's).

#include "bitmap/EnviHeader.h"

#include <string>

namespace batch {

using bitmap::enviHeaderText;

// Writes the header; false when it could not be written in full.
bool writeTextFile(const std::string& path, const std::string& text);

}  // namespace batch
