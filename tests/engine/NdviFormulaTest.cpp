#include "engine/calibration/Calibration.h"
#include "runtime/Exceptions.h"
#include "window/NdviRaster.h"

#include "NdviOracle.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <optional>

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

// The engine's table against the tests' own formula, every byte pair, bit for bit:
// white values alone (through both constructors, negative and huge ones too), a
// panel's reflectance below 1, and dark targets with bytes on both sides of them.
TEST(NdviTable, AgreesWithTheOracleForEveryBytePair)
{
    using engine::BandCalibration;
    using engine::NdviModel;
    const float whites[][2] = {{255, 255}, {200, 180}, {243, 238}, {100, 37}, {1, 1}, {-1, 255}, {2147483647.0f, 3}};
    const NdviModel models[] = {
        {BandCalibration{243, 0.92f}, BandCalibration{238, 0.90f}},
        {BandCalibration{243, 0.92f, 12, 0.03f}, BandCalibration{238, 0.90f, 9, 0.04f}},
        {BandCalibration{180, 0.5f, 40, 0.05f}, BandCalibration{200, 0.95f, 40, 0.0f}},
        {BandCalibration{255, 1.0f, 0, 0.1f}, BandCalibration{255, 0.4f}},
        {BandCalibration{243, 1.0f, 14, 0.0f}, BandCalibration{238, 1.0f, 11, 0.0f}},
    };
    const auto expectAgreement = [](const engine::NdviTable& table, const testing_support::NdviTargets& t, const char* how) {
        for (int n = 0; n < 256; ++n) {
            for (int r = 0; r < 256; ++r) {
                const auto nb = static_cast<std::uint8_t>(n);
                const auto rb = static_cast<std::uint8_t>(r);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(table(nb, rb)),
                          std::bit_cast<std::uint32_t>(testing_support::oracleNdvi(nb, rb, t)))
                    << how << " NIR white " << t.nir.dnWhite << " red white " << t.red.dnWhite << " bytes " << n << ' ' << r;
            }
        }
    };
    for (const auto& w : whites) {
        expectAgreement(engine::NdviTable(w[0], w[1]), testing_support::whites(w[0], w[1]), "whites");
        expectAgreement(engine::NdviTable(NdviModel::plain(w[0], w[1])), testing_support::whites(w[0], w[1]), "plain model");
    }
    for (const NdviModel& m : models) {
        ASSERT_EQ(engine::modelProblem(m), std::nullopt) << engine::describeModel(m);
        expectAgreement(engine::NdviTable(m), testing_support::targetsOf(m), engine::describeModel(m).c_str());
    }
}

}  // namespace
