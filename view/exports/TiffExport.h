#pragma once
// The NDVI (or another index) of the bitmap in memory as a float32 TIFF, its description
// naming the model, and the index where it is not NDVI.

#include "engine/calibration/Calibration.h"
#include "engine/ops/Kernels.h"
#include "view/LoadedPicture.h"

#include <string>

namespace view {

// Throws EngineError naming path when it cannot be written. corrected as
// forEachNdviBlock takes it, with flatField the file it came through, which the
// description names as zrvimage-batch's does.
void writeNdviTiff(const LoadedPicture& picture, const engine::NdviTable& table, const engine::NdviModel& model,
                   const std::string& path, const float* corrected = nullptr, const std::string& flatField = {},
                   const engine::VegetationIndex& index = {});

}  // namespace view
