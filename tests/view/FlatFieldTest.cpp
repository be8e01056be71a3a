// The flat-field in the viewer: through it the panel's values, the rectangle's figures,
// the NDVI exports and the season's table are zrvimage-batch's with --flatfield; a
// flat-field or a frame of another size is refused naming both sizes; the gain views
// show its gains; taking it out (or undoing it) gives back the uncorrected bytes.
#include "ViewerFixture.h"

#include "TiffRead.h"
#include "batch/Runner.h"
#include "engine/calibration/CalibrationFile.h"
#include "engine/calibration/FlatField.h"
#include "view/FlatFieldView.h"
#include "view/LegendWidget.h"
#include "view/regions/RegionsModel.h"
#include "view/season/SeasonDock.h"

#include <QEventLoop>
#include <QLabel>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

using namespace view_testing;
using testing_support::readFile;
using testing_support::TempDir;

constexpr engine::Rectangle kPanel{16, 11, 23, 18};
constexpr engine::Rectangle kDark{2, 2, 5, 5};
constexpr engine::Rectangle kPlot{27, 3, 37, 26};

QString q(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string());
}

std::string rectText(const engine::Rectangle& r)
{
    return view::rectangleText(r).toStdString();
}

// A field of varied plants, a bright panel in the middle and a dark target in a corner;
// k shifts the plants' bytes from frame to frame. No byte reaches 255.
Picture scene(int width = 40, int height = 30, int k = 0)
{
    Picture p{width, height, std::vector<Pixel>(static_cast<std::size_t>(width * height))};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Pixel px{30, static_cast<std::uint8_t>(60 + (x * 11 + y * 5 + 3 * k) % 70),
                     static_cast<std::uint8_t>(120 + (x * 7 + y * 13 + 5 * k) % 90)};
            const auto in = [&](const engine::Rectangle& r) { return x >= r.x1 && x <= r.x2 && y >= r.y1 && y <= r.y2; };
            if (in(kPanel)) px = {200, static_cast<std::uint8_t>(220 + (x + y) % 6), static_cast<std::uint8_t>(228 + (x * y) % 7)};
            if (in(kDark)) px = {10, static_cast<std::uint8_t>(12 + x % 3), static_cast<std::uint8_t>(15 + y % 3)};
            p.pixels[static_cast<std::size_t>(y * width + x)] = px;
        }
    }
    return p;
}

// Each band falls off from its own centre, a third or so at the corners.
engine::FlatFieldModel lens()
{
    engine::FlatFieldModel m{40, 30, {}, {}};
    m.nir = {20, 15, -0.35, 0.05, 0, 1, 2, 31.0, 0.4};
    m.red = {19, 16, -0.25, 0, 0, 1, 1.5f, 24.5, 0.3};
    return m;
}

struct Files {
    TempDir dir;
    std::filesystem::path frame = dir.path("scene.bmp");
    std::filesystem::path flat = dir.path("ff.tif");
    Files()
    {
        testing_support::writeFile(frame, testing_support::encodeBmp(scene()));
        engine::writeFlatField(flat.string(), lens());
    }
};

// The viewer with the scene open and the flat-field's file given to its question.
struct FlatViewer : Viewer {
    std::deque<QString> flatPaths;
    FlatViewer()
    {
        window.prompts().openFlatFieldPath = [this] {
            if (flatPaths.empty()) return QString();
            QString path = flatPaths.front();
            flatPaths.pop_front();
            return path;
        };
    }
    bool putIn(const std::filesystem::path& flat)
    {
        flatPaths.push_back(q(flat));
        action(QStringLiteral("周辺減光補正…"))->trigger();
        return window.flatField() != nullptr;
    }
};

int runBatch(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int status = batch::run(args, out, err, false);
    EXPECT_EQ(status, 0) << err.str();
    return status;
}

TEST(FlatFieldTest, PanelFiguresAndExportsAreTheBatchsThroughTheFlatField)
{
    Files f;
    const engine::NdviModel reflectances{{255, 0.9f, 0, 0.05f}, {255, 0.9f, 0, 0.05f}};
    FlatViewer v;
    ASSERT_TRUE(v.open(f.frame));
    v.window.setModel(reflectances);
    ASSERT_TRUE(v.putIn(f.flat));
    EXPECT_EQ(v.window.findChild<QLabel*>(QStringLiteral("flatField"))->text(),
              QStringLiteral("周辺減光補正: ff.tif（40×30）\nNIR 四隅の減光 31.0 %、RMS 残差 0.40 %\n"
                             "Red 四隅の減光 24.5 %、RMS 残差 0.30 %"));
    v.window.setWhiteChoice(engine::WhiteFrom::Mean);
    v.window.selectArea(kPanel);
    v.window.applyWhitePanel();
    v.window.selectArea(kDark);
    v.window.applyDarkTarget();
    const std::filesystem::path saved = f.dir.path("viewer.json");
    ASSERT_TRUE(v.window.saveCalibration(q(saved)));

    // zrvimage-batch calibrate on the same frame and rectangles through the same file.
    const std::string cal = f.dir.path("batch.json").string();
    runBatch({"calibrate", f.frame.string(), "--white-rect", rectText(kPanel), "--dark-rect", rectText(kDark),
              "--white-from", "mean", "--panel-reflectance", "0.9,0.9", "--dark-reflectance", "0.05,0.05",
              "--flatfield", f.flat.string(), "-o", cal});
    const engine::CalibrationRecord batchRecord = engine::readCalibrationFile(cal);
    const engine::CalibrationRecord viewerRecord = engine::readCalibrationFile(saved.string());
    EXPECT_EQ(v.window.model(), batchRecord.model);
    EXPECT_EQ(viewerRecord.model, batchRecord.model);
    EXPECT_EQ(viewerRecord.source.flatfield, batchRecord.source.flatfield);
    // Corrected values: fractions, which the fields cannot show but keep.
    EXPECT_NE(batchRecord.model.nir.dnDark, std::round(batchRecord.model.nir.dnDark));
    EXPECT_EQ(v.window.fieldsModel(), batchRecord.model);

    // The NDVI exports, byte for byte: the TIFF names the flat-field as the batch's does.
    runBatch({"ndvi", f.frame.string(), "--calibration", cal, "--flatfield", f.flat.string(), "--envi-header", "-o",
              f.dir.path("batch.raw").string()});
    runBatch({"ndvi", f.frame.string(), "--calibration", cal, "--flatfield", f.flat.string(), "--tiff", "-o",
              f.dir.path("batch.tif").string()});
    ASSERT_TRUE(v.window.exportRaster(q(f.dir.path("viewer.raw"))));
    ASSERT_TRUE(v.window.exportTiff(q(f.dir.path("viewer.tif"))));
    const auto raster = readFile(f.dir.path("batch.raw"));
    EXPECT_EQ(readFile(f.dir.path("viewer.raw")), raster);
    EXPECT_EQ(readFile(f.dir.path("viewer.hdr")), readFile(f.dir.path("batch.hdr")));
    EXPECT_EQ(readFile(f.dir.path("viewer.tif")), readFile(f.dir.path("batch.tif")));

    // The rectangle's NDVI figures and the pointer's value from the corrected values.
    ASSERT_EQ(raster.size(), 40u * 30 * 4);
    std::vector<float> values(40 * 30);
    std::memcpy(values.data(), raster.data(), raster.size());
    v.window.selectArea(kPlot);
    view::RegionFigures expected = view::channelFigures(*v.window.picture(), kPlot);
    engine::NdviStatsAccumulator stats;
    for (std::int64_t y = kPlot.y1; y <= kPlot.y2; ++y) {
        stats.addRow(values.data() + y * 40 + kPlot.x1, static_cast<std::size_t>(kPlot.x2 - kPlot.x1 + 1));
    }
    expected.ndvi = stats.result();
    EXPECT_EQ(v.window.figuresLine(), view::figureFieldValues(expected).join(QLatin1Char('\t')));
    EXPECT_TRUE(v.hover(35, 2).contains(QStringLiteral("NDVI=") + view::ndviText(values[2 * 40 + 35])))
        << v.window.pointerText().toStdString();

    // The next start comes back with the flat-field and the exact values.
    view::ViewerWindow next;
    ASSERT_NE(next.flatField(), nullptr);
    EXPECT_EQ(next.flatField()->path(), f.flat.string());
    EXPECT_EQ(next.model(), batchRecord.model);
}

TEST(FlatFieldTest, AnotherIndexThroughTheFlatFieldIsTheBatchsIndex)
{
    Files f;
    FlatViewer v;
    ASSERT_TRUE(v.open(f.frame));
    v.window.setModel({{240, 0.9f, 14, 0.05f}, {235, 0.9f, 16, 0.05f}});
    ASSERT_TRUE(v.putIn(f.flat));
    const std::filesystem::path cal = f.dir.path("viewer.json");
    ASSERT_TRUE(v.window.saveCalibration(q(cal)));
    v.window.setIndex(std::get<engine::VegetationIndex>(engine::parseVegetationIndex("savi:0.3")));

    for (const char* kind : {"--envi-header", "--tiff"}) {
        const bool tiff = std::string(kind) == "--tiff";
        runBatch({"ndvi", f.frame.string(), "--calibration", cal.string(), "--flatfield", f.flat.string(), "--index",
                  "savi:0.3", kind, "-o", f.dir.path(tiff ? "batch.tif" : "batch.raw").string()});
    }
    ASSERT_TRUE(v.window.exportRaster(q(f.dir.path("index.raw"))));
    ASSERT_TRUE(v.window.exportTiff(q(f.dir.path("index.tif"))));
    const auto raster = readFile(f.dir.path("batch.raw"));
    EXPECT_EQ(readFile(f.dir.path("index.raw")), raster);
    const auto header = readFile(f.dir.path("index.hdr"));
    EXPECT_EQ(header, readFile(f.dir.path("batch.hdr")));
    EXPECT_NE(std::string(header.begin(), header.end()).find("SAVI (L=0.3)"), std::string::npos);
    EXPECT_EQ(readFile(f.dir.path("index.tif")), readFile(f.dir.path("batch.tif")));

    // The view's values are the same corrected SAVI: the pointer's, as the raster holds it.
    ASSERT_EQ(raster.size(), 40u * 30 * 4);
    std::vector<float> values(40 * 30);
    std::memcpy(values.data(), raster.data(), raster.size());
    EXPECT_EQ(std::memcmp(v.window.correctedNdvi(), values.data(), raster.size()), 0);
    EXPECT_TRUE(v.hover(35, 2).contains(QStringLiteral("SAVI=") + view::ndviText(values[2 * 40 + 35])))
        << v.window.pointerText().toStdString();
}

TEST(FlatFieldTest, AnotherSizeOrABadFileIsRefusedWithTheEnginesMessage)
{
    Files f;
    const std::filesystem::path wide = f.dir.path("wide.bmp");
    testing_support::writeFile(wide, testing_support::encodeBmp(scene(41, 30)));
    const std::filesystem::path notTiff = f.dir.path("not.tif");
    testing_support::writeFile(notTiff, {'n', 'o', 't'});
    struct Case {
        const char* name;
        std::filesystem::path first, flat, then;  // open first, put flat in, then open then
        std::vector<QString> words;               // in the one message
    };
    const Case cases[] = {
        {"flat-field over a wider frame", wide, f.flat, {}, {QStringLiteral("40×30"), QStringLiteral("41×30")}},
        {"wider frame under the flat-field", f.frame, f.flat, wide, {QStringLiteral("40×30"), QStringLiteral("41×30"), q(wide)}},
        {"not a flat-field", f.frame, notTiff, {}, {QStringLiteral("周辺減光補正"), q(notTiff)}},
    };
    for (const Case& c : cases) {
        FlatViewer v;
        ASSERT_TRUE(v.open(c.first)) << c.name;
        v.putIn(c.flat);
        if (!c.then.empty()) {
            EXPECT_FALSE(v.open(c.then)) << c.name;
        }
        ASSERT_EQ(v.messages.size(), 1u) << c.name;
        for (const QString& w : c.words) EXPECT_TRUE(v.messages[0].contains(w)) << c.name << ": " << v.messages[0].toStdString();
        // What was open stays, as it was.
        EXPECT_EQ(v.window.picture()->path(), c.first.string()) << c.name;
        EXPECT_EQ(v.window.flatField() != nullptr, !c.then.empty()) << c.name;
    }
}

TEST(FlatFieldTest, GainViewsShowEachBandsGainOnOneGreyScaleUpToOne)
{
    Files f;
    FlatViewer v;
    ASSERT_TRUE(v.open(f.frame));
    QAction* nirGain = v.action(QStringLiteral("NIRゲイン"));
    QAction* redGain = v.action(QStringLiteral("Redゲイン"));
    ASSERT_TRUE(nirGain && redGain);
    EXPECT_FALSE(nirGain->isEnabled());
    ASSERT_TRUE(v.putIn(f.flat));
    ASSERT_TRUE(nirGain->isEnabled());

    const engine::FlatField& flat = *v.window.flatField();
    const view::ColourScale grey(view::Palette::Grey, view::lowestGain(flat), 1.0f);
    std::vector<float> nir(40), red(40);
    view::Canvas& canvas = *v.window.canvas();
    for (QAction* a : {nirGain, redGain}) {
        a->trigger();
        QApplication::processEvents();
        const QImage shown = canvas.renderView(canvas.viewport()->size(), 1.0);
        for (const auto& [x, y] : {std::pair{20, 15}, std::pair{0, 0}, std::pair{39, 29}, std::pair{5, 22}}) {
            flat.rowGains(y, nir.data(), red.data());
            const float gain = (a == nirGain ? nir : red)[static_cast<std::size_t>(x)];
            EXPECT_EQ(shown.pixel(canvas.centreOfPixel(x, y).toPoint()), grey.colourOf(gain))
                << a->text().toStdString() << ' ' << x << ',' << y;
        }
    }
    // The centre at full brightness, the corners darker.
    flat.rowGains(15, nir.data(), red.data());
    EXPECT_EQ(nir[20], 1.0f);
    EXPECT_TRUE(v.hover(20, 15).contains(QStringLiteral("ゲイン NIR=1.0000"))) << v.window.pointerText().toStdString();
    // LegendWidget has no meta-object of its own, so findChild cannot tell it apart.
    const auto widgets = v.window.findChildren<QWidget*>();
    const auto legend = std::find_if(widgets.begin(), widgets.end(),
                                     [](QWidget* w) { return dynamic_cast<view::LegendWidget*>(w) != nullptr; });
    ASSERT_NE(legend, widgets.end());
    EXPECT_TRUE((*legend)->isVisible());

    // Taking the flat-field out leaves the gain view for the one remembered.
    v.window.clearFlatField();
    EXPECT_EQ(canvas.mode(), view::Canvas::Mode::Colour);
    EXPECT_FALSE(nirGain->isEnabled());
}

TEST(FlatFieldTest, TakingItOutOrUndoingItGivesBackTheUncorrectedBytes)
{
    Files f;
    FlatViewer v;
    ASSERT_TRUE(v.open(f.frame));
    v.window.selectArea(kPanel);
    v.window.applyWhitePanel();
    const engine::NdviModel plain = v.window.model();
    const auto exported = [&](const char* name) {
        EXPECT_TRUE(v.window.exportTiff(q(f.dir.path(name))));
        return readFile(f.dir.path(name));
    };
    const auto before = exported("before.tif");

    ASSERT_TRUE(v.putIn(f.flat));
    // The panel taken from this frame is read again through the correction, in the
    // same step.
    EXPECT_NE(v.window.model(), plain);
    EXPECT_EQ(v.window.undoStack()->undoText(), QStringLiteral("周辺減光補正"));
    const auto corrected = exported("corrected.tif");
    EXPECT_NE(corrected, before);

    v.window.undoStack()->undo();
    EXPECT_EQ(v.window.flatField(), nullptr);
    EXPECT_EQ(v.window.model(), plain);
    EXPECT_EQ(exported("undone.tif"), before);
    v.window.undoStack()->redo();
    EXPECT_EQ(exported("redone.tif"), corrected);

    v.action(QStringLiteral("周辺減光補正を解除"))->trigger();
    EXPECT_EQ(v.window.flatField(), nullptr);
    EXPECT_EQ(v.window.model(), plain);
    EXPECT_EQ(exported("after.tif"), before);
    EXPECT_FALSE(v.window.findChild<QLabel*>(QStringLiteral("flatField"))->isVisible());

    // A calibration made through the flat-field opens without it, and says so.
    const std::string cal = f.dir.path("through.json").string();
    runBatch({"calibrate", f.frame.string(), "--white-rect", rectText(kPanel), "--flatfield", f.flat.string(), "-o", cal});
    ASSERT_TRUE(v.window.openCalibration(QString::fromStdString(cal)));
    EXPECT_TRUE(v.messages.empty());
    EXPECT_EQ(v.window.model(), engine::readCalibrationFile(cal).model);
    EXPECT_TRUE(v.window.noticeText().contains(QStringLiteral("ff.tif"))) << v.window.noticeText().toStdString();
}

TEST(FlatFieldTest, SeasonTableIsTheSeriesThroughTheFlatField)
{
    Files f;
    const TempDir folder;
    for (int k = 0; k < 2; ++k) {
        testing_support::writeFile(folder.path("f" + std::to_string(k) + ".bmp"),
                                   testing_support::encodeBmp(scene(40, 30, k)));
    }
    engine::RegionSet set;
    set.regions.resize(2);
    set.regions[0].name = "plot";
    set.regions[0].rect = kPlot;
    set.regions[1].name = "panel";
    set.regions[1].rect = kPanel;
    set.regions[1].role = engine::RegionRole::White;
    engine::writeRegionsFile(f.dir.path("regions.json").string(), set);

    FlatViewer v;
    ASSERT_TRUE(v.putIn(f.flat));
    v.window.regions().setSet(set);
    ASSERT_TRUE(v.window.openFolder(q(folder.dir())));
    view::SeasonDock& dock = *v.window.season();
    waitForChart(dock);
    ASSERT_TRUE(dock.complete());
    ASSERT_TRUE(v.window.exportSeasonTable(q(f.dir.path("viewer.csv"))));

    std::vector<std::string> args{"series"};
    for (const auto& e : dock.entries()) args.push_back(e.path.toStdString());
    args.insert(args.end(), {"--regions", f.dir.path("regions.json").string(), "--flatfield", f.flat.string(), "--csv",
                             f.dir.path("batch.csv").string()});
    runBatch(args);
    const auto csv = readFile(f.dir.path("viewer.csv"));
    EXPECT_EQ(csv, readFile(f.dir.path("batch.csv")));
    // And not the table without it.
    std::vector<std::string> plain(args.begin(), args.end());
    plain.erase(std::find(plain.begin(), plain.end(), "--flatfield"), std::find(plain.begin(), plain.end(), "--csv"));
    plain.back() = f.dir.path("plain.csv").string();
    runBatch(plain);
    EXPECT_NE(csv, readFile(f.dir.path("plain.csv")));
}

}  // namespace
