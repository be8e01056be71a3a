#pragma once
// The season row of the benchmark: `zrvimage-batch series` over a synthetic season of
// camera frames with 20 plot regions and a panel, against the read floor of the same
// frames: each frame opened, read front to back with 1 MiB `read` calls, closed.

#include <filesystem>
#include <optional>

namespace bench {

// What the plots' canopy looks like. Smooth: the sample season as it is, a little noise
// around each plot's value, so a plot holds a few hundred distinct (NIR, red) pairs.
// Textured: plots of 81x61 of close-range canopy, NIR spread with a sigma of 14 and
// red of 9 around the plot's mean, so that nearly every pixel is a pair of its own.
// Noise: the same plots with both bytes uniform over 0..255, every pixel a new pair:
// the worst case.
enum class Canopy { Smooth, Textured, Noise };

const char* canopyName(Canopy canopy);

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
std::optional<SeasonResult> measureSeason(const std::filesystem::path& folder, int frames, int runs,
                                         Canopy canopy = Canopy::Smooth);

}  // namespace bench
