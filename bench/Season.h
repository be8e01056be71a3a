#pragma once
// The season row of the benchmark: `zrvimage-batch series` over a synthetic season of
// camera frames with 20 plot regions and a panel, against the read floor of the same
// frames: each frame opened, read front to back with 1 MiB `read` calls, closed.

#include <filesystem>
#include <optional>

namespace bench {

struct SeasonResult {
    int frames = 0;
    int plots = 0;
    // Medians over the timed runs, in seconds, and the median of series / floor within
    // each run.
    double floor = 0;
    double series = 0;
    double ratio = 0;
};

// Writes the season into a folder of its own under folder, runs the zrvimage-batch
// beside this program on it (one warm-up that also checks the table's length, then the
// timed runs, floor and series in turns first) and removes the frames. Nothing, after
// a message on standard error, when the season could not be written or series failed.
std::optional<SeasonResult> measureSeason(const std::filesystem::path& folder, int frames, int runs);

}  // namespace bench
