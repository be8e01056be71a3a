// The vegetation index chosen for the NDVI view: the pointer's value and the rectangle's
// figures are the index's formula, the colour scale, legend and histogram span its
// range, and NDVI comes back exactly as it was.
#include "ViewerFixture.h"

#include "view/HistogramWidget.h"
#include "view/panel/ColoursSection.h"
#include "view/regions/RegionsModel.h"
#include "view/regions/RegionsSection.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QTableWidget>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <numeric>

namespace {

using namespace view_testing;
using testing_support::readFile;
using testing_support::TempDir;

engine::VegetationIndex parsed(const char* text)
{
    return std::get<engine::VegetationIndex>(engine::parseVegetationIndex(text));
}

struct Opened {
    TempDir dir;
    Picture picture = testing_support::asymmetricPicture(7, 5);
    std::filesystem::path file = dir.path("frame.bmp");
    Opened()
    {
        picture.pixels[2 * 7 + 3] = {9, 0, 0};  // NIR and red both 0: no value
        testing_support::writeFile(file, testing_support::encodeBmp(picture));
    }
};

TEST(IndexViewTest, PointerAndFiguresGiveTheChosenIndexsFormula)
{
    Opened o;
    Viewer v;
    v.window.setWhiteValues({200, 180});
    ASSERT_TRUE(v.open(o.file));
    // Chosen as a user does: SAVI in the combo, then its L.
    auto* box = v.window.findChild<QComboBox*>(QStringLiteral("indexChoice"));
    auto* parameter = v.window.findChild<QDoubleSpinBox*>(QStringLiteral("indexParameter"));
    ASSERT_TRUE(box && parameter);
    box->setCurrentIndex(box->findText(QStringLiteral("SAVI")));
    EXPECT_TRUE(parameter->isVisibleTo(&v.window));
    EXPECT_EQ(parameter->value(), 0.5);
    parameter->setValue(0.3);
    EXPECT_EQ(v.window.index(), parsed("savi:0.3"));

    // SAVI from the reflectances of the tests' own arithmetic, in double.
    const auto targets = testing_support::whites(200, 180);
    const auto savi = [&](const Pixel& px) {
        const double n = testing_support::oracleReflectance(px.r, targets.nir);
        const double r = testing_support::oracleReflectance(px.g, targets.red);
        return static_cast<float>(1.3 * (n - r) / (n + r + 0.3));
    };
    for (auto [x, y] : {std::pair{0, 0}, {6, 0}, {0, 4}, {6, 4}, {5, 1}}) {
        const Pixel px = o.picture.at(x, y);
        EXPECT_EQ(v.hover(x, y), QStringLiteral("x=%1 y=%2  R=%3 G=%4 B=%5  SAVI=%6")
                                     .arg(x)
                                     .arg(y)
                                     .arg(px.r)
                                     .arg(px.g)
                                     .arg(px.b)
                                     .arg(fourDecimals(savi(px))));
    }
    EXPECT_EQ(v.hover(3, 2), QStringLiteral("x=3 y=2  R=0 G=0 B=9  SAVI=-10"));

    // The whole picture as the rectangle: its figures are of SAVI and say so.
    v.window.selectArea(engine::Rectangle{0, 0, 6, 4});
    double sum = 0;
    float lowest = 10, highest = -10;
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            if (x == 3 && y == 2) continue;
            const float s = savi(o.picture.at(x, y));
            sum += s;
            lowest = std::min(lowest, s);
            highest = std::max(highest, s);
        }
    }
    const QString mean = v.line(QStringLiteral("SAVI-Mean : "));
    ASSERT_FALSE(mean.isEmpty()) << v.window.panelLines().join(QLatin1Char('\n')).toStdString();
    EXPECT_NEAR(mean.section(QLatin1Char(' '), 2, 2).toDouble(), sum / 34, 0.00005);
    EXPECT_EQ(v.line(QStringLiteral("SAVI-Min")),
              QStringLiteral("SAVI-Min : %1  SAVI-Max : %2").arg(fourDecimals(lowest), fourDecimals(highest)));
    EXPECT_EQ(v.line(QStringLiteral("SAVI=-10")), QStringLiteral("SAVI=-10 の画素数: 1"));
    const auto& counts = v.window.histogram()->counts();
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::uint64_t{0}), 34u);

    // A region over the whole picture: the regions' figures are of SAVI too.
    engine::RegionSet set;
    set.regions.resize(1);
    set.regions[0].name = "all";
    set.regions[0].rect = engine::Rectangle{0, 0, 6, 4};
    v.window.regions().setSet(set);
    QTableWidget* table = v.window.regionsSection()->table();
    using Column = view::RegionsSection::Column;
    EXPECT_EQ(table->horizontalHeaderItem(Column::Mean)->text(), QStringLiteral("SAVI-Mean"));
    EXPECT_EQ(table->horizontalHeaderItem(Column::Nodata)->text(), QStringLiteral("SAVI=-10"));
    ASSERT_NE(table->item(0, Column::Mean), nullptr);
    EXPECT_NEAR(table->item(0, Column::Mean)->text().toDouble(), sum / 34, 0.00005);
    EXPECT_EQ(table->item(0, Column::Nodata)->text(), QStringLiteral("1"));
}

TEST(IndexViewTest, ScaleLegendAndHistogramSpanTheIndexsRange)
{
    Opened o;
    Viewer v;
    ASSERT_TRUE(v.open(o.file));
    auto* low = v.window.findChild<QDoubleSpinBox*>(QStringLiteral("colourLow"));
    auto* high = v.window.findChild<QDoubleSpinBox*>(QStringLiteral("colourHigh"));
    ASSERT_TRUE(low && high);
    // Ranges other than NDVI's: sr's open end at 10, evi2's, tdvi's and osavi's odd ends.
    for (const char* name : {"sr", "evi2", "tdvi", "osavi", "wdrvi:0.5", "ndvi"}) {
        const engine::VegetationIndex index = parsed(name);
        v.window.setIndex(index);
        const engine::IndexRange range = engine::indexRange(index);
        const view::ColourScale& scale = v.window.ndviScale();
        // The scale holds the whole range, by no more than the boxes' last decimal.
        EXPECT_LE(scale.low(), range.low + 1e-6) << name;
        EXPECT_GT(scale.low(), range.low - 0.01) << name;
        EXPECT_GE(scale.high(), range.high - 1e-6) << name;
        EXPECT_LT(scale.high(), range.high + 0.01) << name;
        EXPECT_FLOAT_EQ(static_cast<float>(low->value()), scale.low()) << name;
        EXPECT_EQ(low->minimum(), low->value()) << name;
        EXPECT_EQ(high->maximum(), high->value()) << name;
        EXPECT_EQ(scale.title(), index.isNdvi() ? QString() : QString::fromStdString(index.label())) << name;
        EXPECT_EQ(v.window.histogram()->low(), range.low) << name;
        EXPECT_EQ(v.window.histogram()->high(), range.high) << name;
        const auto& counts = v.window.histogram()->counts();
        EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::uint64_t{0}), 34u) << name;
    }
    // A value of sr beyond its scale's end counts in the last bin and takes the last colour.
    const engine::VegetationIndex sr = parsed("sr");
    EXPECT_EQ(view::indexBin(sr, 25.0f), engine::kHistogramBins - 1);
    EXPECT_EQ(view::indexBin(sr, 0.49f), 0);
    EXPECT_EQ(view::indexBin(sr, 0.51f), 1);
    EXPECT_EQ(view::HistogramWidget().low(), -1.0);
    EXPECT_EQ(view::axisText(1.25), QStringLiteral("+1.25"));
    EXPECT_EQ(view::axisText(-1.0), QStringLiteral("-1"));
}

TEST(IndexViewTest, NdviComesBackExactlyAfterAnotherIndexIsUndone)
{
    Opened o;
    Viewer v;
    v.window.setWhiteValues({200, 180});
    ASSERT_TRUE(v.open(o.file));
    v.window.selectArea(engine::Rectangle{1, 1, 5, 3});
    const QString pointer = v.hover(5, 1);
    const QStringList lines = v.window.panelLines();
    const auto counts = v.window.histogram()->counts();
    const QString tiff = QString::fromStdString(o.dir.path("before.tif").string());
    ASSERT_TRUE(v.window.exportTiff(tiff));

    v.window.setIndex(parsed("evi2"));
    EXPECT_TRUE(v.hover(5, 1).contains(QStringLiteral("EVI2=")));
    EXPECT_FALSE(v.line(QStringLiteral("EVI2-Mean")).isEmpty());
    v.window.undoStep();
    EXPECT_TRUE(v.window.index().isNdvi());
    EXPECT_EQ(v.hover(5, 1), pointer);
    EXPECT_EQ(v.window.panelLines(), lines);
    EXPECT_EQ(v.window.histogram()->counts(), counts);
    EXPECT_EQ(v.window.ndviScale().low(), -1.0f);
    EXPECT_EQ(v.window.ndviScale().high(), 1.0f);
    const QString again = QString::fromStdString(o.dir.path("after.tif").string());
    ASSERT_TRUE(v.window.exportTiff(again));
    EXPECT_EQ(readFile(o.dir.path("after.tif")), readFile(o.dir.path("before.tif")));
    v.window.redoStep();
    EXPECT_EQ(v.window.index(), parsed("evi2"));
}

TEST(IndexViewTest, RasterExportsNameTheIndexAndOpenAsIt)
{
    Opened o;
    Viewer v;
    v.window.setWhiteValues({200, 180});
    ASSERT_TRUE(v.open(o.file));
    v.window.setIndex(parsed("wdrvi:0.3"));
    const float value = v.window.ndviTable()(o.picture.at(5, 1).r, o.picture.at(5, 1).g);
    // The TIFF names another index before the model; the ENVI header always names it.
    for (const char* name : {"index.tif", "index.raw"}) {
        const QString path = QString::fromStdString(o.dir.path(name).string());
        ASSERT_TRUE(std::string(name).ends_with(".tif") ? v.window.exportTiff(path) : v.window.exportRaster(path));
    }
    const auto header = readFile(o.dir.path("index.hdr"));
    EXPECT_NE(std::string(header.begin(), header.end()).find("WDRVI (a=0.3), NIR:"), std::string::npos);
    for (const char* name : {"index.tif", "index.raw"}) {
        v.window.setIndex(parsed("ndvi"));
        v.widths.push_back(7);
        ASSERT_TRUE(v.open(o.dir.path(name))) << name;
        EXPECT_EQ(v.window.index(), parsed("wdrvi:0.3")) << name;
        EXPECT_EQ(v.hover(5, 1), QStringLiteral("x=5 y=1  WDRVI=%1").arg(view::ndviText(value))) << name;
    }
    // What names no index: NDVI's own description and anything else.
    EXPECT_EQ(view::indexNamedBy("NDVI, NIR: 白色板 255"), parsed("ndvi"));
    EXPECT_EQ(view::indexNamedBy("SAVI (L=0.25), NIR"), parsed("savi:0.25"));
    EXPECT_EQ(view::indexNamedBy("NIR: 白色板 255 (反射率 1)"), std::nullopt);
    EXPECT_EQ(view::indexNamedBy("SAVI (L=2), NIR"), std::nullopt);
}

}  // namespace
