#include "window/NdviRaster.h"
#include "runtime/Exceptions.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

namespace {

using engine::ndviPixel;

TEST(NdviFormula, KnownValues)
{
    const float third = static_cast<float>((static_cast<long double>(200.0f / 255.0f) - 100.0f / 255.0f)
                                           / (static_cast<long double>(200.0f / 255.0f) + 100.0f / 255.0f));
    EXPECT_EQ(ndviPixel(200, 100, 255, 255), third);
    EXPECT_EQ(ndviPixel(200, 100, 255, 255), 1.0f / 3.0f);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(ndviPixel(0, 0, 255, 255)), 0xC1200000u);
    EXPECT_EQ(ndviPixel(0, 7, 255, 255), -1.0f);
    EXPECT_EQ(ndviPixel(7, 0, 255, 255), 1.0f);
    EXPECT_EQ(ndviPixel(250, 120, 100, 100), 0.0f);  // both capped at 1.0
    // A negative white value is not capped from below; a zero sum is the marker.
    EXPECT_EQ(ndviPixel(100, 100, -100, 100), -10.0f);
    EXPECT_EQ(ndviPixel(50, 100, -100, 100), static_cast<float>((-0.5L - 1.0L) / (-0.5L + 1.0L)));
}

TEST(NdviFormula, ZeroWhiteRaisesAtTheFirstDivision)
{
    EXPECT_THROW(ndviPixel(5, 0, 255, 0), runtime::EInvalidOp);   // 0 / 0
    EXPECT_THROW(ndviPixel(0, 5, 255, 0), runtime::EZeroDivide);  // red divides first
    EXPECT_THROW(ndviPixel(0, 5, 0, 255), runtime::EInvalidOp);
    EXPECT_THROW(ndviPixel(5, 0, 0, 255), runtime::EZeroDivide);
}

TEST(NdviTable, MatchesThePlainFormulaForEveryBytePair)
{
    const float whites[][2] = {{255, 255}, {200, 180}, {1, 1}, {-1, 255}, {2147483647.0f, 3}};
    for (const auto& w : whites) {
        const engine::NdviTable table(w[0], w[1]);
        for (int n = 0; n < 256; ++n) {
            for (int r = 0; r < 256; ++r) {
                const auto nb = static_cast<std::uint8_t>(n);
                const auto rb = static_cast<std::uint8_t>(r);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(table(nb, rb)),
                          std::bit_cast<std::uint32_t>(ndviPixel(nb, rb, w[0], w[1])))
                    << n << ' ' << r << " whites " << w[0] << ' ' << w[1];
            }
        }
    }
}

}  // namespace
