// The panel rules: white and dark values from a rectangle's bytes, the one-pass count
// of rectangles through the reader, and the panel checks.

#include "engine/calibration/Panel.h"
#include "engine/formats/PictureReader.h"

#include "BmpFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using engine::ByteCounts;
using engine::PanelCheck;
using engine::WhiteFrom;

ByteCounts countsOf(const std::vector<int>& bytes)
{
    ByteCounts c{};
    for (const int b : bytes) ++c[static_cast<std::size_t>(b)];
    return c;
}

// n copies of v.
std::vector<int> times(std::size_t n, int v)
{
    return std::vector<int>(n, v);
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(PanelRules, WhiteAndDarkValuesOfARectanglesBytes)
{
    const struct {
        std::vector<int> bytes;
        int max, mean, p99;
        float dark;  // the exact mean, limited to 0..254
    } cases[] = {
        {{200}, 200, 200, 200, 200},
        // White means at .5 round up (half away from zero); just below stays. Dark
        // values keep their fraction.
        {{1, 2}, 2, 2, 2, 1.5f},
        {{100, 101, 101, 100, 100, 100}, 101, 100, 101, static_cast<float>(602.0 / 6)},  // 100.33
        {{7, 8, 8, 8}, 8, 8, 8, 7.75f},
        // 99th percentile, nearest rank: of 100 pixels the 99th from the bottom; one
        // bright speck is left out, two are not.
        {times(99, 10) + std::vector<int>{250}, 250, 12, 10, 12.4f},
        {times(98, 10) + std::vector<int>{250, 250}, 250, 15, 250, 14.8f},
        // Of 101 pixels, ceil(99.99) = 100 must lie at or below: one speck still out.
        {times(100, 10) + std::vector<int>{250}, 250, 12, 10, static_cast<float>(1250.0 / 101)},
        // The limits: a white value of at least 1, a dark one of at most 254.
        {{0, 0}, 1, 1, 1, 0},
        {{255, 255, 255}, 255, 255, 255, 254},
    };
    for (const auto& c : cases) {
        const ByteCounts counts = countsOf(c.bytes);
        const std::uint64_t n = c.bytes.size();
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        EXPECT_EQ(engine::whiteValue(counts, n, WhiteFrom::Maximum), c.max);
        EXPECT_EQ(engine::whiteValue(counts, n, WhiteFrom::Mean), c.mean);
        EXPECT_EQ(engine::whiteValue(counts, n, WhiteFrom::Percentile99), c.p99);
        EXPECT_EQ(engine::darkValue(counts, n), c.dark);
    }
    EXPECT_EQ(engine::whiteFromByName("p99"), WhiteFrom::Percentile99);
    EXPECT_EQ(engine::whiteFromByName("mean"), WhiteFrom::Mean);
    EXPECT_EQ(engine::whiteFromByName("max"), WhiteFrom::Maximum);
    EXPECT_FALSE(engine::whiteFromByName("Max"));
}

TEST(PanelRules, RectanglesAreCountedFromTheFileCornersIncludedInEitherRowOrder)
{
    const testing_support::Picture picture = testing_support::asymmetricPicture(7, 6);
    const engine::Rectangle rects[] = {{1, 2, 3, 4}, {0, 0, 0, 0}, {6, 5, 6, 5}, {0, 1, 6, 1}};
    for (const bool topDown : {false, true}) {
        const testing_support::TempDir dir;
        const auto path = dir.path("frame.bmp");
        testing_support::BmpLayout layout;
        layout.topDown = topDown;
        testing_support::writeFile(path, testing_support::encodeBmp(picture, layout));
        engine::PictureReader reader = engine::PictureReader::open(path.string());
        reader.require24Bit();
        const auto counted = engine::countPixels(reader, rects);
        ASSERT_EQ(counted.size(), std::size(rects));
        for (std::size_t i = 0; i < std::size(rects); ++i) {
            const engine::Rectangle& r = rects[i];
            engine::PanelPixels expected;
            for (auto y = r.y1; y <= r.y2; ++y) {
                for (auto x = r.x1; x <= r.x2; ++x) {
                    const auto p = picture.at(static_cast<int>(x), static_cast<int>(y));
                    ++expected.nir[p.r];
                    ++expected.red[p.g];
                    ++expected.pixels;
                }
            }
            SCOPED_TRACE(::testing::Message() << "rectangle " << i << (topDown ? " top-down" : " bottom-up"));
            EXPECT_EQ(counted[i].pixels, expected.pixels);
            EXPECT_EQ(counted[i].nir, expected.nir);
            EXPECT_EQ(counted[i].red, expected.red);
        }
    }
    EXPECT_TRUE(engine::insidePicture({0, 0, 6, 5}, 7, 6));
    for (const engine::Rectangle& r : {engine::Rectangle{0, 0, 7, 5}, engine::Rectangle{0, 0, 6, 6},
                                       engine::Rectangle{-1, 0, 6, 5}, engine::Rectangle{3, 0, 2, 5}}) {
        EXPECT_FALSE(engine::insidePicture(r, 7, 6)) << r.x1 << "," << r.y1 << "," << r.x2 << "," << r.y2;
    }
}

TEST(PanelRules, ChecksForSaturationUnevenLightAndADimPanel)
{
    const struct {
        std::vector<int> nir, red;  // the same number of pixels
        std::vector<PanelCheck> checks;
    } cases[] = {
        {times(4, 200), times(4, 180), {}},
        // A coefficient of variation of exactly 3 % passes; 4 % does not, in either band.
        {{97, 103}, {150, 150}, {}},
        {{96, 104}, {150, 150}, {PanelCheck::Uneven}},
        {{150, 150}, {192, 208}, {PanelCheck::Uneven}},
        {{255, 250, 250, 250}, times(4, 200), {PanelCheck::Saturated}},
        {times(4, 200), {255, 255, 255, 255}, {PanelCheck::Saturated}},
        {times(4, 99), times(4, 180), {PanelCheck::Dim}},
        {times(4, 100), times(4, 100), {}},
        {{0, 0}, {0, 0}, {PanelCheck::Dim}},  // all dark: no variation to speak of
        {{255, 40}, {200, 200}, {PanelCheck::Saturated, PanelCheck::Uneven}},
    };
    for (const auto& c : cases) {
        engine::PanelPixels white;
        white.pixels = c.nir.size();
        white.nir = countsOf(c.nir);
        white.red = countsOf(c.red);
        const int nirWhite = engine::whiteValue(white.nir, white.pixels, WhiteFrom::Maximum);
        const int redWhite = engine::whiteValue(white.red, white.pixels, WhiteFrom::Maximum);
        std::vector<PanelCheck> checks;
        for (const auto& w : engine::panelChecks(white, nirWhite, redWhite)) checks.push_back(w.check);
        EXPECT_EQ(checks, c.checks) << ::testing::PrintToString(c.nir) << " " << ::testing::PrintToString(c.red);
    }
}

TEST(PanelRules, TheDarkTargetIsCheckedForSaturationSpreadAndBrightness)
{
    const struct {
        std::vector<int> nir, red;  // the same number of pixels
        float nirWhite, redWhite;
        std::vector<PanelCheck> checks;
    } cases[] = {
        {times(4, 12), times(4, 14), 240, 230, {}},
        // Exactly half the white value passes; a hair above does not, in either band.
        {times(4, 120), times(4, 14), 240, 230, {}},
        {{120, 120, 120, 121}, times(4, 14), 240, 230, {PanelCheck::DarkBright}},
        {times(4, 12), times(4, 100), 240, 199, {PanelCheck::DarkBright}},
        // A dim target's noise: a deviation of 2 levels at a mean of 4 (50 %) is no
        // unevenness; 2.5 levels at 10.5 (24 %) is; 4 levels at 40 (10 %) is not.
        {{2, 6, 2, 6}, times(4, 5), 240, 230, {}},
        {{8, 13, 8, 13}, times(4, 5), 240, 230, {PanelCheck::DarkUneven}},
        {{36, 44, 36, 44}, times(4, 14), 240, 230, {}},
        {times(4, 12), {30, 70, 30, 70}, 240, 230, {PanelCheck::DarkUneven}},
        {{255, 12, 12, 12}, times(4, 14), 240, 230, {PanelCheck::DarkSaturated, PanelCheck::DarkUneven}},
        {times(4, 255), times(4, 255), 255, 255, {PanelCheck::DarkSaturated, PanelCheck::DarkBright}},
    };
    for (const auto& c : cases) {
        engine::PanelPixels dark;
        dark.pixels = c.nir.size();
        dark.nir = countsOf(c.nir);
        dark.red = countsOf(c.red);
        const float nirDark = engine::darkValue(dark.nir, dark.pixels);
        const float redDark = engine::darkValue(dark.red, dark.pixels);
        std::vector<PanelCheck> checks;
        for (const auto& w : engine::darkChecks(engine::darkSpread(dark), nirDark, redDark, c.nirWhite, c.redWhite)) {
            checks.push_back(w.check);
        }
        EXPECT_EQ(checks, c.checks) << ::testing::PrintToString(c.nir) << " " << ::testing::PrintToString(c.red);

        // Corrected values of a flat-field with gains of 1 give the same checks.
        std::vector<float> nir(c.nir.begin(), c.nir.end()), red(c.red.begin(), c.red.end());
        const auto saturated = [](const std::vector<int>& v) { return static_cast<std::uint64_t>(std::count(v.begin(), v.end(), 255)); };
        std::vector<PanelCheck> corrected;
        for (const auto& w : engine::darkChecks(engine::darkSpread(nir, red, saturated(c.nir), saturated(c.red)), nirDark,
                                                redDark, c.nirWhite, c.redWhite)) {
            corrected.push_back(w.check);
        }
        EXPECT_EQ(corrected, c.checks);
    }

    engine::PanelPixels dark;
    dark.pixels = 4;
    dark.nir = countsOf({255, 10, 10, 10});
    dark.red = countsOf({130, 130, 130, 130});
    const auto warnings = engine::darkChecks(engine::darkSpread(dark), engine::darkValue(dark.nir, 4), 130, 240, 230);
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0].text, "暗色板の範囲に 255 で飽和した画素があります（NIR 1 画素、Red 0 画素）。暗色板以外のものが範囲に入っています");
    EXPECT_EQ(warnings[1].text, "暗色板の範囲の明るさが一様ではありません（NIR 平均 71.2、標準偏差 106.1、Red 平均 130.0、標準偏差 0.0）。"
                                "土や草、影の縁など暗色板以外のものが範囲に入っています");
    EXPECT_EQ(warnings[2].text, "暗色板の値が白色板の値の半分を超えています（NIR 暗色板 71.2、白色板 240.0、Red 暗色板 130.0、白色板 230.0）。"
                                "範囲が暗色板から外れているか、暗色板が明るすぎます");
}

TEST(PanelRules, ChecksSayWhatWasFound)
{
    engine::PanelPixels white;
    white.pixels = 2;
    white.nir = countsOf({255, 41});
    white.red = countsOf({60, 60});
    const auto warnings = engine::panelChecks(white, 255, 60);
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0].text, "白色板の範囲に 255 で飽和した画素があります（NIR 1 画素、Red 0 画素）。露出を下げて撮影してください");
    EXPECT_EQ(warnings[1].text, "白色板の範囲の明るさが一様ではありません（変動係数 NIR 72.3 %、Red 0.0 %、上限 3 %）。"
                                "照明のむらか、白色板以外のものが範囲に入っています");
    EXPECT_EQ(warnings[2].text, "白色板の値が 100 未満です（NIR 255、Red 60）。露出が足りないか、白色板ではありません");
}

}  // namespace
