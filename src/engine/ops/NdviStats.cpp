#include "engine/ops/NdviStats.h"

#include "engine/ops/Kernels.h"

#include <algorithm>
#include <cmath>

namespace engine {

int histogramBin(float value) noexcept
{
    const double position = (static_cast<double>(value) + 1.0) * (kHistogramBins / 2);
    if (!(position > 0.0)) return 0;
    // Truncation is the floor here, the position being positive.
    return std::min(static_cast<int>(std::min(position, double{kHistogramBins})), kHistogramBins - 1);
}

void NdviStatsAccumulator::addRow(const float* values, std::size_t count)
{
    // First pass: count, sum, extremes and histogram of the row's values.
    std::uint64_t n = 0;
    double sum = 0.0;
    float low = 0.0f;
    float high = 0.0f;
    for (std::size_t i = 0; i < count; ++i) {
        const float v = values[i];
        if (v == engine::kNdviMarker) continue;
        if (n == 0 || v < low) low = v;
        if (n == 0 || v > high) high = v;
        ++n;
        sum += v;
        ++stats_.histogram[static_cast<std::size_t>(histogramBin(v))];
    }
    stats_.markers += count - n;
    if (n == 0) return;

    // Second pass: squared deviations from the row's own mean.
    const double rowMean = sum / static_cast<double>(n);
    double rowM2 = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        if (values[i] == engine::kNdviMarker) continue;
        const double d = values[i] - rowMean;
        rowM2 += d * d;
    }

    const auto before = static_cast<double>(stats_.count);
    stats_.count += n;
    const auto total = static_cast<double>(stats_.count);
    const double delta = rowMean - mean_;
    mean_ += delta * static_cast<double>(n) / total;
    m2_ += rowM2 + delta * delta * before * static_cast<double>(n) / total;
    stats_.min = stats_.min ? std::min(*stats_.min, low) : low;
    stats_.max = stats_.max ? std::max(*stats_.max, high) : high;
}

NdviStats NdviStatsAccumulator::result() const
{
    NdviStats s = stats_;
    if (s.count > 0) {
        s.mean = mean_;
        s.stddev = std::sqrt(m2_ / static_cast<double>(s.count));
    }
    return s;
}

}  // namespace engine
