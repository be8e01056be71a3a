// The index family's engine piece: the range each index claims for a colour scale holds
// its values, its name reads back, and the season's buckets keep the order of any float.

#include "engine/calibration/Calibration.h"
#include "engine/ops/VegetationIndex.h"
#include "engine/season/Tally.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <variant>

namespace {

using engine::IndexKind;
using engine::VegetationIndex;

VegetationIndex parsed(const std::string& text)
{
    auto result = engine::parseVegetationIndex(text);
    if (const auto* problem = std::get_if<std::string>(&result)) ADD_FAILURE() << *problem;
    return std::get<VegetationIndex>(result);
}

TEST(VegetationIndex, BoundedRangesHoldEveryValueOfReflectancesWithinZeroToOne)
{
    for (const char* text : {"ndvi", "sr", "dvi", "rdvi", "savi", "savi:0", "savi:1", "osavi", "msavi2", "evi2", "wdrvi",
                             "wdrvi:1", "nli", "mnli", "mnli:0", "tdvi"}) {
        SCOPED_TRACE(text);
        const VegetationIndex index = parsed(text);
        const engine::IndexRange range = engine::indexRange(index);
        ASSERT_LT(range.low, range.high);
        double low = 1e9, high = -1e9;
        for (int i = 0; i <= 100; ++i) {
            for (int j = 0; j <= 100; ++j) {
                const float v = engine::indexOfReflectances(index, i / 100.0f, j / 100.0f);
                if (v == engine::kNdviMarker) continue;
                low = std::min<double>(low, v);
                high = std::max<double>(high, v);
            }
        }
        if (!range.bounded) {
            EXPECT_GT(high, range.high);  // sr: the scale's end is not its largest value
            continue;
        }
        // Reached at the corners, so the scale wastes none of its colours.
        EXPECT_NEAR(low, range.low, 1e-6);
        EXPECT_NEAR(high, range.high, 1e-6);
        // Read back from its own text.
        EXPECT_EQ(parsed(index.text()), index);
    }
    EXPECT_EQ(parsed("savi").label(), "SAVI (L=0.5)");
    EXPECT_EQ(parsed("wdrvi:0.15").text(), "wdrvi:0.15");
    EXPECT_EQ(parsed("ndvi").label(), "NDVI");
}

TEST(VegetationIndex, SeasonBucketsKeepTheOrderOfAnyFloat)
{
    using engine::seasonparts::BucketScale;
    using engine::seasonparts::bucketOf;
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> ascending = {-inf, -3e38f, -1e9f, -5e6f, -10, -1.5f, -1, -0.999f, -1e-30f, 0, 1e-40f,
                                          0.25f, 0.999f, 1, 1.5f, 9.99f, 10, 11, 5e6f, 8.4e6f, 1e9f, 3e38f, inf};
    for (const BucketScale scale : {BucketScale{}, BucketScale::of(0, 10), BucketScale::of(-0.73, 1.25)}) {
        std::uint32_t previous = 0;
        for (const float v : ascending) {
            const std::uint32_t b = bucketOf(v, scale);
            EXPECT_GE(b, previous) << v;
            EXPECT_LT(b, engine::seasonparts::kBuckets) << v;
            previous = b;
        }
    }
    // NDVI's buckets are the ones it always had: (v + 1) * 512, 1024 of them.
    for (int i = -1024; i <= 1024; ++i) {
        const float v = i / 1024.0f;
        const float b = (v + 1.0f) * 512.0f;
        const auto old = b <= 0 ? 0u : std::min(static_cast<std::uint32_t>(b), 1023u);
        EXPECT_EQ(bucketOf(v), old) << v;
    }
}

}  // namespace
