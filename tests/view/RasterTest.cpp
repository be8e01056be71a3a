// NDVI rasters: a .raw with its ENVI header as the export (and zrvimage-batch
// --envi-header) writes it, or a .raw alone after asking for its width.
#include "ViewerFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace view_testing;

struct Exported {
    testing_support::TempDir dir;
    Picture picture = testing_support::asymmetricPicture(7, 5);
    std::filesystem::path raw = dir.path("frame_ndvi.raw");
    std::vector<QString> bitmapLines;

    Exported()
    {
        picture.pixels[9] = {0, 0, 0};
        testing_support::writeFile(dir.path("frame.bmp"), testing_support::encodeBmp(picture));
        Viewer v;
        EXPECT_TRUE(v.open(dir.path("frame.bmp")));
        v.window.setWhiteValues({222, 199});
        v.window.selectArea(engine::Rectangle{1, 0, 5, 3});
        EXPECT_TRUE(v.window.exportRaster(QString::fromStdString(raw.string())));
        for (const QString& l : v.window.panelLines()) {
            if (l.startsWith(QLatin1String("NDVI"))) bitmapLines.push_back(l);
        }
    }
};

TEST(RasterTest, RasterWithHeaderShowsTheValuesAndFiguresOfThePicture)
{
    Exported e;
    Viewer v;
    ASSERT_TRUE(v.open(e.raw));
    ASSERT_TRUE(v.messages.empty());
    EXPECT_EQ(v.window.picture()->kind(), view::LoadedPicture::Kind::Raster);
    EXPECT_EQ(v.window.picture()->width(), 7);
    EXPECT_EQ(v.window.picture()->height(), 5);
    const Pixel px = e.picture.at(4, 3);
    EXPECT_EQ(v.hover(4, 3), QStringLiteral("x=4 y=3  NDVI=%1").arg(fourDecimals(oracleNdvi(px.r, px.g, 222, 199))));
    EXPECT_EQ(v.hover(2, 1), QStringLiteral("x=2 y=1  NDVI=-10"));
    // The rectangle's NDVI figures are those the picture gave; no channel figures.
    v.window.selectArea(engine::Rectangle{1, 0, 5, 3});
    std::vector<QString> rasterLines;
    for (const QString& l : v.window.panelLines()) {
        if (l.startsWith(QLatin1String("NDVI"))) rasterLines.push_back(l);
    }
    EXPECT_EQ(rasterLines, e.bitmapLines);
    EXPECT_EQ(v.line(QStringLiteral("Red-Max : ")), QString());
}

TEST(RasterTest, RasterWithoutHeaderTakesTheWidthItIsGiven)
{
    Exported e;
    const auto alone = e.dir.path("alone.raw");
    std::filesystem::copy_file(e.raw, alone);
    Viewer v;
    v.widths = {std::nullopt, 4, 7};
    EXPECT_FALSE(v.open(alone));  // cancelled: nothing said
    EXPECT_TRUE(v.messages.empty());
    EXPECT_FALSE(v.open(alone));  // 140 bytes are not rows of 4 values
    ASSERT_EQ(v.messages.size(), 1u);
    EXPECT_TRUE(v.messages[0].startsWith(QStringLiteral("ファイルの大きさ（140 バイト）が幅 4 の float32 ラスターに合いません")));
    ASSERT_TRUE(v.open(alone));
    EXPECT_EQ(v.window.picture()->height(), 5);
    const Pixel px = e.picture.at(6, 4);
    EXPECT_EQ(v.hover(6, 4), QStringLiteral("x=6 y=4  NDVI=%1").arg(fourDecimals(oracleNdvi(px.r, px.g, 222, 199))));
}

TEST(RasterTest, HeadersOtherThanOneFloatBandAreRefused)
{
    Exported e;
    const auto hdr = e.dir.path("frame_ndvi.hdr");
    const std::string good = "ENVI\nsamples = 7\nlines = 5\nbands = 1\nheader offset = 0\ndata type = 4\n"
                             "interleave = bsq\nbyte order = 0\n";
    const std::string unsupported = "対応していないENVIヘッダーです（1バンドの float32、リトルエンディアンのみ）\n" + hdr.string();
    const std::pair<std::string, std::string> cases[] = {
        {"ENVI\nsamples = 7\nlines = 5\nbands = 1\ndata type = 5\nbyte order = 0\n", unsupported},
        {"ENVI\nsamples = 7\nlines = 5\nbands = 1\ndata type = 4\nbyte order = 1\n", unsupported},
        {"ENVI\nsamples = 7\nlines = 5\nbands = 2\ndata type = 4\nbyte order = 0\n", unsupported},
        {"ENVI\nlines = 5\ndata type = 4\n", unsupported},
        {"samples = 7\nlines = 5\n", "ENVIヘッダーではありません\n" + hdr.string()},
        {"ENVI\nsamples = 8\nlines = 5\ndata type = 4\n",
         "ラスターの大きさが合いません（140 バイト、8×5 の float32 には 160 バイト必要です）\n" + e.raw.string()},
    };
    Viewer v;
    for (const auto& [text, message] : cases) {
        testing_support::writeFile(hdr, std::vector<std::uint8_t>(text.begin(), text.end()));
        v.messages.clear();
        EXPECT_FALSE(v.open(e.raw)) << text;
        EXPECT_EQ(v.messages, std::vector<QString>{QString::fromStdString(message)}) << text;
    }
    testing_support::writeFile(hdr, std::vector<std::uint8_t>(good.begin(), good.end()));
    EXPECT_TRUE(v.open(e.raw));
}

}  // namespace
