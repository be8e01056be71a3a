#include "window/ProgressModel.h"
#include "runtime/Exceptions.h"

#include "OperationRun.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using window::ProgressModel;
using testing_support::messageOfError;

constexpr const char* kRangeMessage = "プロパティ TProgressBar の範囲を超えています";

TEST(ProgressModel, StartsLikeANewBar)
{
    const ProgressModel bar;
    EXPECT_TRUE(testing_support::progressUntouched(bar));
}

TEST(ProgressModel, MaxBelowMinIsARangeErrorAndChangesNothing)
{
    ProgressModel bar;
    bar.setPosition(40);
    EXPECT_EQ(messageOfError<runtime::EInvalidOperation>([&] { bar.setMax(-1); }), kRangeMessage);
    EXPECT_EQ(bar.max(), 100);
    EXPECT_EQ(bar.position(), 40);

    bar.setMin(5);
    EXPECT_EQ(messageOfError<runtime::EInvalidOperation>([&] { bar.setMax(4); }), kRangeMessage);
    EXPECT_EQ(messageOfError<runtime::EInvalidOperation>([&] { bar.setMin(101); }), kRangeMessage);
    EXPECT_EQ(bar.min(), 5);
    EXPECT_EQ(bar.max(), 100);
}

TEST(ProgressModel, MaxEqualToMinIsAccepted)
{
    ProgressModel bar;
    bar.setMax(0);
    EXPECT_EQ(bar.max(), 0);
    EXPECT_EQ(bar.position(), 0);
    bar.setMin(0);
    bar.setMax(7);
    bar.setMin(7);
    EXPECT_EQ(bar.min(), 7);
    EXPECT_EQ(bar.position(), 7);
}

struct PositionCase {
    int min, max, set, expected;
};

void PrintTo(const PositionCase& c, std::ostream* os)
{
    *os << "range " << c.min << ".." << c.max << " set " << c.set;
}

class ProgressPosition : public ::testing::TestWithParam<PositionCase> {};

TEST_P(ProgressPosition, IsKeptWithinTheRange)
{
    const auto& c = GetParam();
    ProgressModel bar;
    bar.setMin(c.min);
    bar.setMax(c.max);
    bar.setPosition(c.set);
    EXPECT_EQ(bar.position(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressPosition, ::testing::Values(
    PositionCase{0, 10, 7, 7},
    PositionCase{0, 10, 10, 10},
    PositionCase{0, 10, 11, 10},
    PositionCase{0, 10, -5, 0},
    PositionCase{3, 3, 0, 3},
    PositionCase{-4, -2, 0, -2}));

TEST(ProgressModel, NarrowingTheRangeMovesThePositionInside)
{
    ProgressModel bar;
    bar.setPosition(60);
    bar.setMax(20);
    EXPECT_EQ(bar.position(), 20);
    bar.setPosition(0);
    bar.setMin(15);
    EXPECT_EQ(bar.position(), 15);
}

TEST(ProgressModel, StepItAdvancesByStepAndStartsOverPastMax)
{
    ProgressModel bar;
    bar.setMax(3);
    bar.setStep(1);
    std::vector<int> positions;
    for (int i = 0; i < 5; ++i) {
        bar.stepIt();
        positions.push_back(bar.position());
    }
    EXPECT_EQ(positions, (std::vector<int>{1, 2, 3, 0, 1}));
    EXPECT_EQ(bar.stepCount(), 5);

    ProgressModel byTens;  // the bar's own step of 10
    for (int i = 0; i < 10; ++i) byTens.stepIt();
    EXPECT_EQ(byTens.position(), 100);
    byTens.stepIt();
    EXPECT_EQ(byTens.position(), 0);
}

TEST(ProgressModel, ReportsEveryChange)
{
    ProgressModel bar;
    int changes = 0;
    bar.setOnChange([&] { ++changes; });
    bar.setMin(0);
    bar.setMax(5);
    bar.setPosition(2);
    bar.setStep(1);
    bar.stepIt();
    EXPECT_EQ(changes, 5);
    EXPECT_THROW(bar.setMax(-1), runtime::EInvalidOperation);
    EXPECT_EQ(changes, 5);
}

}  // namespace
