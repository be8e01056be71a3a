// "NIR,RED" values as the batch tool and the viewer read them.

#include "engine/formats/NumberPair.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <utility>

namespace {

using IntPair = std::optional<std::pair<std::int32_t, std::int32_t>>;
using RealPair = std::optional<std::pair<float, float>>;

TEST(NumberPair, IntegersAreDecimalWithNothingAroundThem)
{
    const struct {
        const char* text;
        IntPair expected;
    } cases[] = {
        {"243,238", std::pair{243, 238}},
        {"0,-1", std::pair{0, -1}},  // a sign, so that a negative is refused for its range
        {"007,10", std::pair{7, 10}},  // not octal
        {"2147483647,-2147483648", std::pair{2147483647, -2147483647 - 1}},
        {"2147483648,1", std::nullopt},
        {"$C,9", std::nullopt},
        {"0x9,9", std::nullopt},
        {"12,9h", std::nullopt},
        {"+12,9", std::nullopt},
        {" 12,9", std::nullopt},
        {"12, 9", std::nullopt},
        {"12,9 ", std::nullopt},
        {"12.0,9", std::nullopt},
        {"-,9", std::nullopt},
        {",9", std::nullopt},
        {"12", std::nullopt},
        {"12,9,", std::nullopt},
        {"1,2,3", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(engine::integerPair(c.text), c.expected) << '"' << c.text << '"';
}

TEST(NumberPair, ReflectancesHaveAtMostThreeDecimalsAfterAFullStop)
{
    const struct {
        const char* text;
        RealPair expected;
    } cases[] = {
        {"0.92,0.90", std::pair{0.92f, 0.9f}},
        {"1,.5", std::pair{1.0f, 0.5f}},
        {"1.,0", std::pair{1.0f, 0.0f}},
        {"0.123,0.001", std::pair{0.123f, 0.001f}},  // rounded once, as the same text in the source is
        {"-0.5,1.5", std::pair{-0.5f, 1.5f}},        // the range is each option's to check
        {"0.1234,0.9", std::nullopt},
        {"0,92,0,90", std::nullopt},
        {"0;92,0.9", std::nullopt},
        {"1e-1,0.9", std::nullopt},
        {"inf,0.9", std::nullopt},
        {"nan,0.9", std::nullopt},
        {"+0.5,0.9", std::nullopt},
        {" 0.5,0.9", std::nullopt},
        {"0.5.1,0.9", std::nullopt},
        {".,0.9", std::nullopt},
        {"-,0.9", std::nullopt},
        {"0.5%,0.9", std::nullopt},
        {"０.５,0.9", std::nullopt},
        {"0.9", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(engine::reflectancePair(c.text), c.expected) << '"' << c.text << '"';
}

}  // namespace
