#include "window/Services.h"

#include "FakeServices.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

// Notes after how many units of work, counted over all rows, each hand-over came.
class HandOverLog : public testing_support::FakeServices {
public:
    std::int64_t unitsDone = 0;
    std::vector<std::int64_t> handOvers;

protected:
    void pumpNow() override { handOvers.push_back(unitsDone); }
};

struct PumpCase {
    std::int64_t interval;
    std::vector<std::size_t> rows;  // units of work per row
};

void PrintTo(const PumpCase& c, std::ostream* os) { *os << "every " << c.interval << ", " << c.rows.size() << " rows"; }

class ForEachPumped : public ::testing::TestWithParam<PumpCase> {};

TEST_P(ForEachPumped, HandsOverAfterTheSameUnitsAsAPumpPerUnit)
{
    const auto& c = GetParam();
    HandOverLog perUnit;
    perUnit.pumpEvery = c.interval;
    for (const std::size_t units : c.rows) {
        for (std::size_t i = 0; i < units; ++i) {
            ++perUnit.unitsDone;
            perUnit.pumpEvents();
        }
    }

    HandOverLog stretched;
    stretched.pumpEvery = c.interval;
    for (const std::size_t units : c.rows) {
        std::size_t next = 0;  // the stretches cover the row in order, none empty
        window::forEachPumped(stretched, units, [&](std::size_t first, std::size_t count) {
            EXPECT_EQ(first, next);
            EXPECT_GE(count, 1u);
            next = first + count;
            stretched.unitsDone += static_cast<std::int64_t>(count);
        });
        EXPECT_EQ(next, units);
    }

    EXPECT_EQ(stretched.handOvers, perUnit.handOvers);
    EXPECT_EQ(stretched.unitsDone, perUnit.unitsDone);
}

INSTANTIATE_TEST_SUITE_P(Cases, ForEachPumped, ::testing::Values(
    PumpCase{1, {5, 0, 3}},
    PumpCase{3, {5, 0, 7, 1, 2}},
    PumpCase{4096, {2048, 2048, 1, 9000, 4095, 4097}},
    PumpCase{std::numeric_limits<std::int64_t>::max(), {10, 70000}}));

}  // namespace
