#pragma once
// The NDVI raster (or another index's) of the bitmap in memory, little-endian float32 top
// row first as every front end writes it, with the ENVI header beside it naming the model
// and the index.

#include "engine/calibration/Calibration.h"
#include "engine/ops/Kernels.h"
#include "view/LoadedPicture.h"

#include <string>

namespace view {

// The ENVI header written beside a raster: OUT.hdr for OUT.raw, OUT.raw.hdr for OUT.
std::string headerPathFor(const std::string& raster);

// Writes rasterPath and its header; table is model's of index, corrected as
// forEachNdviBlock takes it. Throws EngineError naming the file at fault.
void writeNdviRaster(const LoadedPicture& picture, const engine::NdviTable& table, const engine::NdviModel& model,
                     const std::string& rasterPath, const float* corrected = nullptr,
                     const engine::VegetationIndex& index = {});

}  // namespace view
