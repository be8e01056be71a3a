// Calibrated reflectance: refused models, their description, and the float32 TIFF.
// (The table's values under every kind of model are checked with the formula's.)

#include "TiffRead.h"
#include "engine/calibration/Calibration.h"
#include "engine/formats/NdviTiff.h"
#include "engine/ops/Runs.h"

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

    const auto expected = testing_support::expectedNdvi(picture, testing_support::targetsOf(model));
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
