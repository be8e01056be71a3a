#pragma once
// The NDVI raster as a single-band float32 TIFF that GIS programs and ImageJ open
// without a side file: DEFLATE with the floating-point predictor, strips of whole
// rows, and -10 declared as the no-data value in the GDAL_NODATA tag (42113) that
// GDAL and QGIS read. Written through libtiff.

#include "engine/EngineError.h"

#include <cstdint>
#include <memory>
#include <string>

namespace engine {

inline constexpr std::uint32_t kGdalNoDataTag = 42113;

class NdviTiffWriter {
public:
    // Creates path (replacing a file there); throws EngineError(CannotCreateOutput).
    // description, when not empty, goes into the ImageDescription tag.
    NdviTiffWriter(const std::string& path, std::int64_t width, std::int64_t height, const std::string& description = {});
    ~NdviTiffWriter();
    NdviTiffWriter(const NdviTiffWriter&) = delete;
    NdviTiffWriter& operator=(const NdviTiffWriter&) = delete;

    // Rows first .. first + count - 1, in order, width values each, as runNdvi shows
    // them. Throws EngineError(WriteFailed).
    void addRows(std::int64_t first, std::int64_t count, const float* values);

    // Writes the last strip and the directory; throws EngineError(WriteFailed).
    void finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Makes libtiff know the GDAL_NODATA tag on every file it opens from now on, for
// writing or reading.
void installGdalTags();

}  // namespace engine
