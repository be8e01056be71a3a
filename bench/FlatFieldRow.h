#pragma once
// The flat-field row of the benchmark: zrvimage-batch's per-file NDVI run with
// --flatfield on a camera-sized picture, against the durable floor of the same file
// I/O (the batch column's yardstick), and the same run without the flat-field beside it.

#include "Pictures.h"

#include <filesystem>
#include <optional>

namespace bench {

struct FlatFieldResult {
    // Medians over the timed runs, in seconds, and the medians of the ratios to the
    // durable floor within each run.
    double floor = 0;
    double plain = 0;
    double corrected = 0;
    double plainRatio = 0;
    double correctedRatio = 0;
};

// Writes the picture and a flat-field of its size into folder, runs one warm-up, then
// the timed runs (floor, plain NDVI, NDVI through the flat-field, in turns first) and
// removes the files. Nothing, after a message on standard error, when a run failed.
std::optional<FlatFieldResult> measureFlatField(const std::filesystem::path& folder, PictureSize picture, int runs);

}  // namespace bench
