// Calibrated reflectance: the empirical line through a white panel and a dark target,
// the default model bit for bit today's NDVI, refused models, and the float32 TIFF.

#include "TiffRead.h"
#include "engine/Calibration.h"
#include "engine/NdviTiff.h"
#include "engine/Runs.h"

#include "BmpFixture.h"
#include "ExpectedOutput.h"
#include "MemorySource.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <bit>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using engine::BandCalibration;
using engine::NdviModel;

BandCalibration band(float dnWhite, float rWhite, float dnDark = 0, float rDark = 0)
{
    return BandCalibration{dnWhite, rWhite, dnDark, rDark};
}

TEST(Calibration, DefaultModelIsTodaysNdviBitForBit)
{
    const float whites[][2] = {{255, 255}, {243, 238}, {1, 1}, {-1, 255}, {100, 37}};
    for (const auto& w : whites) {
        const engine::NdviTable plain(w[0], w[1]);
        const engine::NdviTable model(NdviModel::plain(w[0], w[1]));
        for (int n = 0; n < 256; ++n) {
            for (int r = 0; r < 256; ++r) {
                const auto nb = static_cast<std::uint8_t>(n);
                const auto rb = static_cast<std::uint8_t>(r);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(model(nb, rb)), std::bit_cast<std::uint32_t>(plain(nb, rb)))
                    << n << ' ' << r << " whites " << w[0] << ' ' << w[1];
            }
        }
    }
}

TEST(Calibration, AgreesWithTheOracleForEveryBytePair)
{
    const NdviModel models[] = {
        {band(243, 0.92f), band(238, 0.90f)},                     // a maker's panel
        {band(243, 0.92f, 12, 0.03f), band(238, 0.90f, 9, 0.04f)},  // two targets
        {band(180, 0.5f, 40, 0.05f), band(200, 0.95f, 40, 0.0f)},  // bytes beyond both
        {band(255, 1.0f, 0, 0.1f), band(255, 0.4f)},
    };
    for (const NdviModel& m : models) {
        ASSERT_EQ(engine::modelProblem(m), std::nullopt);
        const engine::NdviTable table(m);
        for (int n = 0; n < 256; ++n) {
            for (int r = 0; r < 256; ++r) {
                const auto nb = static_cast<std::uint8_t>(n);
                const auto rb = static_cast<std::uint8_t>(r);
                const float nir = testing_support::oracleReflectance(nb, m.nir.dnWhite, m.nir.rWhite, m.nir.dnDark, m.nir.rDark);
                const float red = testing_support::oracleReflectance(rb, m.red.dnWhite, m.red.rWhite, m.red.dnDark, m.red.rDark);
                ASSERT_GE(nir, 0.0f);
                ASSERT_LE(nir, 1.0f);
                const long double sum = static_cast<long double>(nir) + red;
                const float expected = sum == 0 ? -10.0f : static_cast<float>((static_cast<long double>(nir) - red) / sum);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(table(nb, rb)), std::bit_cast<std::uint32_t>(expected))
                    << "model " << engine::describeModel(m) << " bytes " << n << ' ' << r;
            }
        }
    }
}

TEST(Calibration, ImpossibleModelsAreRefusedWithTheBandNamed)
{
    const struct {
        NdviModel model;
        const char* problem;
    } cases[] = {
        {{band(12, 1, 12, 0), band(255, 1)}, "NIR: 白色板の値 (12) は暗色板の値 (12) より大きくなければなりません"},
        {{band(255, 1), band(10, 1, 30, 0)}, "Red: 白色板の値 (10) は暗色板の値 (30) より大きくなければなりません"},
        {{band(255, 1.2f), band(255, 1)}, "NIR: 反射率は 0 から 1 の範囲で指定してください"},
        {{band(255, 1), band(255, 0.9f, 10, -0.01f)}, "Red: 反射率は 0 から 1 の範囲で指定してください"},
        {{band(255, std::numeric_limits<float>::quiet_NaN()), band(255, 1)}, "NIR: 反射率は 0 から 1 の範囲で指定してください"},
        {{band(255, 0), band(255, 1)}, "NIR: 白色板の反射率は暗色板の反射率より大きくなければなりません"},
        {{band(255, 1), band(255, 0.3f, 10, 0.3f)}, "Red: 白色板の反射率は暗色板の反射率より大きくなければなりません"},
        {{band(255, 0.92f, 10, 0.02f), band(250, 0.9f)}, nullptr},
    };
    for (const auto& c : cases) {
        const auto problem = engine::modelProblem(c.model);
        if (c.problem) {
            EXPECT_EQ(problem, std::optional<std::string>(c.problem));
        } else {
            EXPECT_EQ(problem, std::nullopt);
        }
    }
}

TEST(Calibration, DescriptionNamesEveryTarget)
{
    EXPECT_EQ(engine::describeModel({band(243, 0.92f, 12, 0.03f), band(238, 0.9f)}),
              "NIR: 白色板 243 (反射率 0.92), 暗色板 12 (反射率 0.03); Red: 白色板 238 (反射率 0.9)");
}

using testing_support::readTiff;
using testing_support::TiffRead;

TEST(NdviTiff, ReadsBackWithItsValuesCompressionPredictorAndNoData)
{
    // 300 columns: 218 rows to a strip, so 500 rows make three strips; the picture's
    // first pixels have both bands at zero, the marker.
    testing_support::Picture picture = testing_support::asymmetricPicture(300, 500);
    picture.pixels[0] = {9, 0, 0};
    picture.pixels[301] = {9, 0, 0};
    auto reader = testing_support::readerOf(testing_support::encodeBmp(picture));
    reader.require24Bit();
    // Dark targets of no reflectance: bytes at or below them read as 0, the marker
    // where both bands do.
    const NdviModel model{band(243, 0.92f, 12, 0), band(238, 0.9f, 9, 0)};
    testing_support::TempDir dir;
    const std::string path = dir.path("ndvi.tif").string();
    {
        engine::NdviTiffWriter tiff(path, 300, 500, engine::describeModel(model));
        engine::runNdvi(reader, model, nullptr,
                        [&](std::int64_t first, std::int64_t count, const float* v) { tiff.addRows(first, count, v); });
        tiff.finish();
    }

    const TiffRead t = readTiff(path);
    testing_support::expectNdviTiffTags(t, 300, 500, engine::describeModel(model));

    std::vector<std::uint8_t> expected;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const auto px = picture.at(x, y);
            const float nir = testing_support::oracleReflectance(px.r, 243, 0.92f, 12, 0);
            const float red = testing_support::oracleReflectance(px.g, 238, 0.9f, 9, 0);
            const long double sum = static_cast<long double>(nir) + red;
            const float v = sum == 0 ? -10.0f : static_cast<float>((static_cast<long double>(nir) - red) / sum);
            std::uint8_t b[4];
            std::memcpy(b, &v, 4);
            expected.insert(expected.end(), b, b + 4);
        }
    }
    ASSERT_EQ(t.values.size(), expected.size());
    EXPECT_TRUE(t.values == expected);
    float first;
    std::memcpy(&first, t.values.data(), 4);
    EXPECT_EQ(first, -10.0f);
}

TEST(NdviTiff, AFolderInTheWayCannotBeCreated)
{
    testing_support::TempDir dir;
    try {
        engine::NdviTiffWriter tiff(dir.dir().string(), 2, 2);
        ADD_FAILURE() << "created";
    } catch (const engine::EngineError& e) {
        EXPECT_EQ(e.failure(), engine::Failure::CannotCreateOutput);
    }
}

}  // namespace
