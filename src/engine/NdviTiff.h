#pragma once
// The NDVI raster as a single-band float32 TIFF that GIS programs and ImageJ open
// without a side file: DEFLATE with the floating-point predictor, strips of whole
// rows, and -10 declared as the no-data value in the GDAL_NODATA tag (42113) that
// GDAL and QGIS read. libtiff writes the tags and the directory; the strips are
// predicted and compressed here, on every core at once, and handed to it in order as
// raw strips.

#include "engine/EngineError.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace engine {

class StagedFile;

inline constexpr std::uint32_t kGdalNoDataTag = 42113;

// libdeflate's levels. The default is the fastest level whose files stay within 1 % of
// level 6's on camera frames (docs/performance.md): level 1's are up to 3 % larger.
inline constexpr int kMinTiffLevel = 1;
inline constexpr int kMaxTiffLevel = 12;
inline constexpr int kDefaultTiffLevel = 2;

class NdviTiffWriter {
public:
    // Writes into a staged file's temporary; failures name its final path and mark it
    // failed, and its group closes the descriptor. description, when not empty, goes
    // into the ImageDescription tag; level is the DEFLATE level, kMinTiffLevel to
    // kMaxTiffLevel. Throws EngineError(CannotCreateOutput).
    NdviTiffWriter(StagedFile& file, std::int64_t width, std::int64_t height, const std::string& description = {},
                   int level = kDefaultTiffLevel);
    // Creates path itself (replacing a file there), for a caller that places nothing.
    NdviTiffWriter(const std::string& path, std::int64_t width, std::int64_t height, const std::string& description = {},
                   int level = kDefaultTiffLevel);
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
    void open(std::int64_t width, std::int64_t height, const std::string& description, int level);
    struct State;
    std::unique_ptr<State> state_;
};

// The strip as stored before compression: each row's float bytes split into planes,
// most significant first, then every byte replaced by its difference from the byte
// before it in the row (TIFF's floating-point predictor, 3). rows rows of width
// values from values into out, rows * width * 4 bytes.
void predictFloatRows(const float* values, std::size_t width, std::size_t rows, std::uint8_t* out);

// Makes libtiff know the GDAL_NODATA tag on every file it opens from now on, for
// writing or reading.
void installGdalTags();

// Silences libtiff's error and warning handlers, which belong to the whole process:
// set once, whatever thread asks first. Every reader and writer of TIFFs calls it
// before it opens one.
void quietLibtiff();

}  // namespace engine
