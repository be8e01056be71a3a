#include "engine/ops/NdviColours.h"

#include <algorithm>

namespace engine {

Ramp rampThrough(std::span<const Rgb> stops) noexcept
{
    Ramp ramp{};
    const int steps = static_cast<int>(stops.size()) - 1;
    for (int k = 0; k < kRampEntries; ++k) {
        const double t = static_cast<double>(k) * steps / (kRampEntries - 1);
        const int i = std::min(static_cast<int>(t), steps - 1);
        const double f = t - i;
        const Rgb a = stops[static_cast<std::size_t>(i)];
        const Rgb b = stops[static_cast<std::size_t>(i) + 1];
        // Never negative, so adding a half and truncating rounds to the nearest.
        const auto mix = [f](std::uint8_t from, std::uint8_t to) {
            return static_cast<std::uint8_t>(from + (to - from) * f + 0.5);
        };
        ramp[static_cast<std::size_t>(k)] = {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
    }
    return ramp;
}

const Ramp& redYellowGreenRamp() noexcept
{
    static constexpr Rgb kStops[] = {
        {165, 0, 38},     {215, 48, 39},   {244, 109, 67},  {253, 174, 97}, {254, 224, 139}, {255, 255, 191},
        {217, 239, 139}, {166, 217, 106}, {102, 189, 99}, {26, 152, 80},  {0, 104, 55},
    };
    static const Ramp ramp = rampThrough(kStops);
    return ramp;
}

int rampIndex(float value, float low, float high) noexcept
{
    if (!(high > low)) return 0;
    // In double: the float sum value - low would lose the low bits of a small value.
    const double t = (static_cast<double>(value) - low) / (static_cast<double>(high) - low) * (kRampEntries - 1);
    if (!(t > 0.0)) return 0;
    if (t >= kRampEntries - 1) return kRampEntries - 1;
    return static_cast<int>(t + 0.5);
}

}  // namespace engine
