#pragma once
// The three operations as the engine runs them: over an opened picture, with plain
// parameters, an output sink, a call after every row and a cancel flag. They speak of
// rectangles and white values; dialogs, fields and messages belong to the front ends.
// Failures are thrown: EngineError for files, runtime::Exception kinds for
// arithmetic, runtime::EAbort when the cancel flag was set.

#include "engine/calibration/FlatField.h"
#include "engine/formats/PictureReader.h"
#include "engine/ops/Kernels.h"
#include "engine/ops/VegetationIndex.h"
#include "engine/output/OutputFile.h"
#include "engine/platform/RunControl.h"

#include <cstdint>
#include <functional>

namespace engine {

// Throws EngineError(TooTall) for a picture of more rows than the crop's header can
// hold (a signed 32-bit height). Front ends ask before they create the output.
void requireCroppable(const PictureReader& picture);

// Writes the 2048-column bitmap: its header, then every row bottom row first, the
// columns past a narrower picture black. The picture must have passed require24Bit();
// one that fails requireCroppable() is refused before anything is written.
void runCrop(PictureReader& picture, BlockSink& out, const RunControl& control = {});

// The largest red, green and blue bytes inside a rectangle already fitted to the
// picture by clampToPicture; no pixel when x1 > x2 or y1 > y2.
ChannelMaxima runAreaMaxima(PictureReader& picture, const Rectangle& area, const RunControl& control = {});

// NDVI rows as they are made: rows first .. first + count - 1 from the top, width
// values each, contiguous.
using NdviRowsObserver = std::function<void(std::int64_t first, std::int64_t count, const float* values)>;

// Writes the NDVI raster, top row first, to out (when given) and shows every block of
// rows to observe (when given). A zero white value raises the division error of the
// top-left pixel once the first row has been read.
void runNdvi(PictureReader& picture, float nirWhite, float redWhite, BlockSink* out,
             const NdviRowsObserver& observe = {}, const RunControl& control = {});

// The same with a calibration model, which must have passed modelProblem(), and of any
// index of its reflectances (VegetationIndex.h), NDVI by default.
void runNdvi(PictureReader& picture, const NdviModel& model, BlockSink* out, const NdviRowsObserver& observe = {},
             const RunControl& control = {}, const VegetationIndex& index = {});

// The NDVI raster (or another index's) with each band corrected by flat (runNdvi's rows,
// blocks, observer and control). The picture must be flat's size (FlatField::requireSize).
void runCorrectedNdvi(PictureReader& picture, const FlatField& flat, const NdviModel& model, BlockSink* out,
                      const NdviRowsObserver& observe = {}, const RunControl& control = {},
                      const VegetationIndex& index = {});

}  // namespace engine
