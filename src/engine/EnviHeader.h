#pragma once
// The ENVI header that lets GDAL and QGIS open an NDVI raster directly: one band of
// little-endian float32 values, no header bytes, -10 marking pixels without a value.

#include "engine/Calibration.h"

#include <cstdint>
#include <string>

namespace engine {

// description, when not empty, becomes the header's "description = {...}" line; it
// must hold no '}' and no line break, which would end the field early.
std::string enviHeaderText(std::int64_t width, std::int64_t height, const std::string& description = {});

// The header every front end writes beside an NDVI raster: the description names the
// calibration model the values were made with.
std::string ndviEnviHeader(std::int64_t width, std::int64_t height, const NdviModel& model);

}  // namespace engine
