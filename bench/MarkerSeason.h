#pragma once
// The markers' row of the benchmark: `zrvimage-batch series -j 1` over a hand-held
// season of 2048x1536 frames whose regions follow AprilTags, against the time the
// AprilTag library alone takes to find the tags on the same frames at its decimation 4
// with one thread (its grey pictures made beforehand, untimed). The frames whose tags
// the sample covers on purpose are left out of both.

#include <filesystem>
#include <optional>

namespace bench {

struct MarkerSeasonResult {
    int frames = 0;
    double library = 0;  // seconds, medians over the timed runs
    double series = 0;
    double ratio = 0;           // median of series / library within each run
    double worstCornerPx = 0;   // of the field tags the engine found, against where the views put them
};

std::optional<MarkerSeasonResult> measureMarkerSeason(const std::filesystem::path& folder, int frames, int runs);

}  // namespace bench
