#pragma once
// The rows that time whole processes as a user starts them: zrvimage-batch's float
// TIFF against gdal_translate writing the same raster, and zrvimage-batch's crop, area
// maxima and NDVI against a process that only does their plain file I/O
// (zrv_bench_floor). Both run on one frame of the sample season, a camera-like scene:
// NDVI of random bytes compresses like nothing a user writes.

#include "Floor.h"
#include "Pictures.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace bench {

// Writes one frame of the sample season of that size into folder; its path.
std::filesystem::path writeSceneFrame(const std::filesystem::path& folder, PictureSize size);

struct TiffResult {
    // Medians over the timed runs, in seconds, and the median of ours / GDAL's within
    // each run.
    double ours = 0;
    double gdal = 0;
    double ratio = 0;
    std::uintmax_t oursBytes = 0;
    std::uintmax_t gdalBytes = 0;
    // GDAL decoded both TIFFs to the very bytes of the raw raster.
    bool sameValues = false;
};

// Nothing, after a message on standard error, when a program failed or is missing.
std::optional<TiffResult> measureTiff(const std::filesystem::path& folder, const std::filesystem::path& frame, int runs);

// Writes a few odd pictures (one pixel, one column, padded rows, a long flat one,
// top-down), and for each checks that GDAL reads zrvimage-batch's TIFF as the same
// values as its raw raster. Describes the first mismatch, or nothing.
std::optional<std::string> checkOddTiffs(const std::filesystem::path& folder);

struct ProcessResult {
    double floor = 0;  // medians, seconds
    double batch = 0;
    double ratio = 0;  // median of batch / floor within each run
};

// zrvimage-batch's op on the frame of that size (the area maxima over the whole frame),
// against zrv_bench_floor on the same frame, in turns first; nothing when either failed.
std::optional<ProcessResult> measureProcess(Operation op, const std::filesystem::path& folder,
                                            const std::filesystem::path& frame, PictureSize size, int runs);

// zrvimage-batch's op over files copies of the frame in one process, against
// zrv_bench_floor doing each file's durable I/O in turn (read, write, fsync of the
// file and its folder, then the next): the yardstick of a multi-file run. Crop and
// NDVI only; nothing when either failed.
std::optional<ProcessResult> measureFiles(Operation op, const std::filesystem::path& folder,
                                          const std::filesystem::path& frame, PictureSize size, int files, int runs);

}  // namespace bench
