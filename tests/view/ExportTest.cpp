// The exports: the NDVI raster byte for byte as the window's NDVI operation writes it,
// with its ENVI header; the view as a PNG with its legend; the figures as CSV; none of
// them ever over the open picture.
#include "ViewerFixture.h"

#include "ExpectedOutput.h"
#include "FakeServices.h"
#include "TiffRead.h"
#include "engine/platform/Messages.h"
#include "window/NdviRaster.h"

#include <QAction>
#include <QImage>

#include <gtest/gtest.h>

namespace {

using namespace view_testing;
using testing_support::readFile;

QAction* actionNamed(QWidget& window, const QString& prefix)
{
    for (QAction* a : window.findChildren<QAction*>()) {
        if (a->text().startsWith(prefix)) return a;
    }
    return nullptr;
}

struct Frame {
    testing_support::TempDir dir;
    Picture picture = testing_support::asymmetricPicture(7, 5);  // odd width: padded rows
    std::filesystem::path file = dir.path("frame.bmp");
    Frame()
    {
        picture.pixels[8] = {5, 0, 0};
        testing_support::writeFile(file, testing_support::encodeBmp(picture));
    }
};

TEST(ExportTest, RasterIsTheWindowOperationsOutputAndHasItsHeader)
{
    Frame f;
    // The window's NDVI operation on the same picture and white values.
    testing_support::FakeServices window;
    window.dialogAnswers = {f.file.string(), f.dir.path("window.raw").string()};
    window.fields[window::Field::Edit5] = "201";
    window.fields[window::Field::Edit6] = "187";
    window::makeNdviRaster(window);
    ASSERT_EQ(window.messages.back(), engine::kDoneMessage);

    Viewer v;
    ASSERT_TRUE(v.open(f.file));
    v.window.setWhiteValues({201, 187});
    v.savePaths = {QString::fromStdString(f.dir.path("viewer.raw").string())};
    actionNamed(v.window, QStringLiteral("NDVIラスター"))->trigger();

    EXPECT_TRUE(v.messages.empty());
    EXPECT_EQ(readFile(f.dir.path("viewer.raw")), testing_support::expectedNdvi(f.picture, 201, 187));
    EXPECT_EQ(readFile(f.dir.path("viewer.raw")), readFile(f.dir.path("window.raw")));
    const auto header = readFile(f.dir.path("viewer.hdr"));
    EXPECT_EQ(std::string(header.begin(), header.end()),
              "ENVI\ndescription = {NDVI, NIR: 白色板 201 (反射率 1); Red: 白色板 187 (反射率 1)}\n"
              "samples = 7\nlines = 5\nbands = 1\nheader offset = 0\ndata type = 4\ninterleave = bsq\n"
              "byte order = 0\nband names = {NDVI}\ndata ignore value = -10\n");
}

// The values exported are the ones on screen: a picture changed on disk after it was
// opened (here smaller and with other bytes) is not read again.
TEST(ExportTest, RasterAndTiffHoldThePictureAsOpenedNotAsItIsNowOnDisk)
{
    Frame f;
    Viewer v;
    ASSERT_TRUE(v.open(f.file));
    v.window.setWhiteValues({201, 187});
    testing_support::writeFile(f.file, testing_support::encodeBmp(testing_support::asymmetricPicture(4, 3)));

    const std::vector<std::uint8_t> expected = testing_support::expectedNdvi(f.picture, 201, 187);
    ASSERT_TRUE(v.window.exportRaster(QString::fromStdString(f.dir.path("out.raw").string())));
    ASSERT_TRUE(v.window.exportTiff(QString::fromStdString(f.dir.path("out.tif").string())));
    EXPECT_TRUE(v.messages.empty());
    EXPECT_EQ(readFile(f.dir.path("out.raw")), expected);
    const auto tiff = testing_support::readTiff(f.dir.path("out.tif"));
    EXPECT_EQ(tiff.width, 7u);
    EXPECT_EQ(tiff.height, 5u);
    EXPECT_EQ(tiff.values, expected);
    const auto header = readFile(f.dir.path("out.hdr"));
    EXPECT_NE(std::string(header.begin(), header.end()).find("samples = 7\nlines = 5\n"), std::string::npos);
}

TEST(ExportTest, NoExportWritesOverTheOpenPicture)
{
    Frame f;
    const auto before = readFile(f.file);
    std::filesystem::create_symlink(f.file, f.dir.path("link.bmp"));
    Viewer v;
    ASSERT_TRUE(v.open(f.file));
    v.window.selectArea(engine::Rectangle{0, 0, 3, 3});
    const QString names[] = {QString::fromStdString(f.file.string()),
                             QString::fromStdString(f.dir.path("link.bmp").string())};
    for (const QString& name : names) {
        EXPECT_FALSE(v.window.exportRaster(name));
        EXPECT_FALSE(v.window.exportViewPicture(name));
        EXPECT_FALSE(v.window.exportFigures(name));
    }
    ASSERT_EQ(v.messages.size(), 6u);
    for (const QString& m : v.messages) EXPECT_EQ(m, QString::fromUtf8(engine::kOutputIsInput));
    EXPECT_EQ(readFile(f.file), before);
    // Nor the header beside a raster: frame.raw's header would be frame.hdr, a picture here.
    std::filesystem::copy_file(f.file, f.dir.path("frame.hdr"));
    ASSERT_TRUE(v.open(f.dir.path("frame.hdr")));
    v.messages.clear();
    EXPECT_FALSE(v.window.exportRaster(QString::fromStdString(f.dir.path("frame.raw").string())));
    EXPECT_EQ(v.messages, std::vector<QString>{QString::fromUtf8(engine::kOutputIsInput)});
    EXPECT_EQ(readFile(f.dir.path("frame.hdr")), before);
}

TEST(ExportTest, ViewPictureShowsTheScreenAndTheLegend)
{
    Frame f;
    Viewer v;
    ASSERT_TRUE(v.open(f.file));
    v.window.setView(view::Canvas::Mode::Ndvi);
    const QString out = QString::fromStdString(f.dir.path("view.png").string());
    ASSERT_TRUE(v.window.exportViewPicture(out));
    const QImage image(out);
    const QSize screen = v.window.canvas()->viewport()->size();
    ASSERT_EQ(image.width(), screen.width());
    ASSERT_GT(image.height(), screen.height());  // the legend under the picture
    // A pixel shown in the palette's colour of its NDVI: the marker in magenta.
    const QPoint marker = v.window.canvas()->centreOfPixel(1, 1).toPoint();
    EXPECT_EQ(image.pixel(marker), qRgb(255, 0, 255));

    v.window.setView(view::Canvas::Mode::Colour);
    ASSERT_TRUE(v.window.exportViewPicture(out));
    const QImage colour(out);
    EXPECT_EQ(colour.height(), screen.height());
    const Pixel px = f.picture.at(4, 2);
    EXPECT_EQ(colour.pixel(v.window.canvas()->centreOfPixel(4, 2).toPoint()), qRgb(px.r, px.g, px.b));
}

TEST(ExportTest, FiguresCsvHoldsTheRectangleAndTheWhiteValues)
{
    Frame f;
    Viewer v;
    ASSERT_TRUE(v.open(f.file));
    v.window.setWhiteValues({240, 236});
    v.window.selectArea(engine::Rectangle{1, 1, 5, 3});
    const auto out = f.dir.path("area.csv");
    ASSERT_TRUE(v.window.exportFigures(QString::fromStdString(out.string())));
    const auto bytes = readFile(out);
    ASSERT_GT(bytes.size(), 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 3), (std::vector<std::uint8_t>{0xEF, 0xBB, 0xBF}));
    const QStringList lines = QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()) + 3, static_cast<qsizetype>(bytes.size()) - 3)
                                  .split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 3);  // names, values, and the empty rest after the last line end
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("ファイル,X1,Y1,X2,Y2,画素数,Red-Max,Green-Max,Blue-Max,")));
    const auto m = testing_support::expectedMaxima(f.picture, 1, 1, 5, 3);  // red, green, blue
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("\"%1\",1,1,5,3,15,%2,%3,%4,")
                                        .arg(QString::fromStdString(f.file.string()))
                                        .arg(QString::fromStdString(m[0]))
                                        .arg(QString::fromStdString(m[1]))
                                        .arg(QString::fromStdString(m[2]))));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(",240,236")));
}

}  // namespace
