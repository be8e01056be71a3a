// The NDVI colour ramps both front ends colour with.

#include "engine/ops/NdviColours.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using engine::Rgb;

// Entries worked out by hand from the stops: entry k is k * 10 / 254 of the way
// through the eleven stops.
TEST(NdviColours, RedYellowGreenRunsThroughItsStopsWithYellowAtTheMiddle)
{
    const struct {
        int entry;
        Rgb colour;
    } cases[] = {
        {0, {165, 0, 38}},      // -1
        {13, {191, 25, 39}},    // 0.5118 of the way from the first stop to the second
        {127, {255, 255, 191}}, // NDVI 0: the middle stop itself
        {140, {236, 247, 164}}, // 5.5118: between yellow and the first green
        {254, {0, 104, 55}},    // +1
    };
    const auto& ramp = engine::redYellowGreenRamp();
    for (const auto& c : cases) EXPECT_EQ(ramp[static_cast<std::size_t>(c.entry)], c.colour) << c.entry;

    // Two stops: entry k is k * 255 / 254, halves rounded up.
    const Rgb grey[] = {{0, 0, 0}, {255, 255, 255}};
    const auto g = engine::rampThrough(grey);
    EXPECT_EQ(g[1], (Rgb{1, 1, 1}));
    EXPECT_EQ(g[127], (Rgb{128, 128, 128}));
    EXPECT_EQ(g[254], (Rgb{255, 255, 255}));
}

TEST(NdviColours, IndexIsTheNearestEntryAndSymmetricAboutTheMiddle)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float value, low, high;
        int index;
    } cases[] = {
        {-1.0f, -1, 1, 0},      {-3.0f, -1, 1, 0},     {1.0f, -1, 1, 254},    {7.0f, -1, 1, 254},
        {0.0f, -1, 1, 127},     {0.1f, -1, 1, 140},    {-0.1f, -1, 1, 114},   // 12.7 steps either side
        {1e-9f, -1, 1, 127},    {-1e-9f, -1, 1, 127},  // a float sum with 1 would lose these
        {0.25f, 0, 1, 64},      // a half rounds up
        {0.5f, 0, 1, 127},      {0.2f, 0.2f, 0.2f, 0}, {nan, -1, 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(engine::rampIndex(c.value, c.low, c.high), c.index) << c.value << " over " << c.low << ".." << c.high;
    }
}

}  // namespace
