#pragma once
// The ENVI header that lets GDAL and QGIS open an NDVI raster directly: one band of
// little-endian float32 values, no header bytes, -10 marking pixels without a value.

#include <cstdint>
#include <string>

namespace engine {

// description, when not empty, becomes the header's "description = {...}" line; it
// must hold no '}' and no line break, which would end the field early; bandName, the
// one band's name, neither, nor a comma.
std::string enviHeaderText(std::int64_t width, std::int64_t height, const std::string& description = {},
                           const std::string& bandName = "NDVI");

}  // namespace engine
