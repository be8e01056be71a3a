#pragma once
// The ENVI header that lets GDAL and QGIS open an NDVI raster directly: one band of
// little-endian float32 values, no header bytes, -10 marking pixels without a value.

#include <cstdint>
#include <string>

namespace bitmap {

std::string enviHeaderText(std::int64_t width, std::int64_t height);

}  // namespace bitmap
