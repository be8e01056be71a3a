#pragma once
// Colour ramps for NDVI pictures, one table for every front end: the batch tool's
// previews and the viewer colour a value alike.
//
// A ramp has an odd number of entries, so that the middle of its range has an entry of
// its own: over -1..+1, NDVI 0 takes the red-yellow-green ramp's yellow exactly, and
// values the same distance either side of it take entries the same distance either
// side of the middle. (With an even count the middle falls between two entries and
// rounds to the green one.)

#include <array>
#include <cstdint>
#include <span>

namespace engine {

struct Rgb {
    std::uint8_t r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr int kRampEntries = 255;

using Ramp = std::array<Rgb, kRampEntries>;

// Entry k at k / (kRampEntries - 1) of the way through stops spaced evenly, mixed
// linearly between the two stops around it and rounded to the nearest byte.
Ramp rampThrough(std::span<const Rgb> stops) noexcept;

// ColorBrewer's eleven-class RdYlGn, red to green; over -1..+1 entry k is NDVI
// (k - 127) / 127.
const Ramp& redYellowGreenRamp() noexcept;

// The entry nearest to value over low..high: 0 for low and below, the last for high
// and above, 0 for a value that is not a number or a range of no width.
int rampIndex(float value, float low, float high) noexcept;

}  // namespace engine
