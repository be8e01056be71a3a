#pragma once
// The NDVI of a bitmap held in memory, in blocks of whole rows top row first: the
// values the viewer shows, made by the very table and row kernel the operations use.

#include "engine/ops/Kernels.h"
#include "view/LoadedPicture.h"

#include <cstdint>
#include <functional>

namespace view {

// Calls rows(first, count, values) for consecutive blocks of rows, count * width
// values each; the values live until the next call. corrected, when given, holds the
// NDVI through a flat-field of every pixel, row-major, given in place of the table's.
void forEachNdviBlock(const LoadedPicture& picture, const engine::NdviTable& table,
                      const std::function<void(std::int64_t first, std::int64_t count, const float* values)>& rows,
                      const float* corrected = nullptr);

}  // namespace view
