#pragma once
// Statistics of one NDVI raster: how many pixels hold the -10 marker and, over all
// the others, minimum, maximum, mean, standard deviation and a histogram.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace engine {

inline constexpr int kHistogramBins = 20;

struct NdviStats {
    std::uint64_t markers = 0;  // pixels holding -10
    std::uint64_t count = 0;    // all other pixels
    // Over the other pixels; nothing when there are none.
    std::optional<float> min, max;
    std::optional<double> mean;
    std::optional<double> stddev;  // population standard deviation
    // Bin i counts values in [-1 + i/10, -1 + (i+1)/10); +1 falls in the last bin.
    // Values outside -1..+1 (possible only with negative white values) are counted
    // in the end bins.
    std::array<std::uint64_t, kHistogramBins> histogram{};
};

class NdviStatsAccumulator {
public:
    // Adds the values of one raster row.
    void addRow(const float* values, std::size_t count);
    NdviStats result() const;

private:
    NdviStats stats_;
    // Mean and sum of squared deviations so far; each row's own are merged in
    // (Chan's update), which keeps the deviation accurate over millions of pixels.
    double mean_ = 0.0;
    double m2_ = 0.0;
};

// The histogram bin of a value, by the rule above.
int histogramBin(float value) noexcept;

}  // namespace engine
