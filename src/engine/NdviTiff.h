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

class StagedFile;

inline constexpr std::uint32_t kGdalNoDataTag = 42113;

class NdviTiffWriter {
public:
    // Writes into a staged file's temporary; failures name its final path and mark it
    // failed, and its group closes the descriptor. description, when not empty, goes
    // into the ImageDescription tag. Throws EngineError(CannotCreateOutput).
    NdviTiffWriter(StagedFile& file, std::int64_t width, std::int64_t height, const std::string& description = {});
    // Creates path itself (replacing a file there), for a caller that places nothing.
    NdviTiffWriter(const std::string& path, std::int64_t width, std::int64_t height, const std::string& description = {});
    ~NdviTiffWriter();
    NdviTiffWriter(const NdviTiffWriter&) = delete;
    NdviTiffWriter& operator=(const NdviTiffWriter&) = delete;

    // Rows first .. first + count - 1, in order, width values each, as runNdvi shows
    // them. Throws EngineError(WriteFailed).
    void addRows(std::int64_t first, std::int64_t count, const float* values);

    // Writes the last strip and the directory and closes the TIFF; throws
    // EngineError(WriteFailed) when any of its writes, its flush or its close failed.
    void finish();

private:
    void open(std::int64_t width, std::int64_t height, const std::string& description);
    struct State;
    std::unique_ptr<State> state_;
};

// Makes libtiff know the GDAL_NODATA tag on every file it opens from now on, for
// writing or reading.
void installGdalTags();

// Silences libtiff's error and warning handlers, which belong to the whole process:
// set once, whatever thread asks first. Every reader and writer of TIFFs calls it
// before it opens one.
void quietLibtiff();

}  // namespace engine
