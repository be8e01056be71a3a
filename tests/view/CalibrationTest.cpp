// The calibration in the viewer: the panel's reflectances, a dark target marked from a
// rectangle, the model shown and used by the NDVI view, the pointer, the figures and
// both raster exports, an impossible model refused without touching the picture, and
// the command line options for all of it. Values are checked against the empirical
// line worked out here from the bytes.
#include "TiffRead.h"
#include "ViewerFixture.h"

#include "ExpectedOutput.h"
#include "engine/calibration/Calibration.h"
#include "engine/formats/NdviTiff.h"
#include "engine/platform/Messages.h"
#include "view/CommandLine.h"
#include "view/HistogramWidget.h"

#include <QAction>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <tiffio.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace view_testing;
using engine::BandCalibration;
using engine::NdviModel;
using testing_support::readFile;

// NDVI of a pixel under a model, by the tests' own formula.
float oracleModelNdvi(const Pixel& px, const NdviModel& m)
{
    return testing_support::oracleNdvi(px.r, px.g, testing_support::targetsOf(m));
}

// As the pointer label writes a value: four decimals, the marker as -10.
QString ndviTextOf(float v)
{
    return v == -10.0f ? QStringLiteral("-10") : fourDecimals(v);
}

// 13 x 9, NIR and red bytes running over the whole range: pixels below a dark target,
// above a white panel, and (0, 0) at the top left.
Picture sweepPicture()
{
    Picture p{13, 9, {}};
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            p.pixels.push_back({static_cast<std::uint8_t>(7 * x + y), static_cast<std::uint8_t>((41 * y + 13 * x) % 256),
                                static_cast<std::uint8_t>((23 * x + 29 * y) % 256)});
        }
    }
    p.pixels[0] = {9, 0, 0};
    p.pixels[1] = {9, 4, 6};  // both below the dark targets below
    return p;
}

BandCalibration band(float dnWhite, float rWhite, float dnDark = 0, float rDark = 0)
{
    return {dnWhite, rWhite, dnDark, rDark};
}

// The spin boxes of the side panel, typed into one by one as a user would.
void typeModel(view::ViewerWindow& w, const NdviModel& m)
{
    const auto spin = [&](const char* name) { return w.findChild<QSpinBox*>(QLatin1String(name)); };
    const auto fraction = [&](const char* name) { return w.findChild<QDoubleSpinBox*>(QLatin1String(name)); };
    spin("nirWhite")->setValue(static_cast<int>(m.nir.dnWhite));
    spin("redWhite")->setValue(static_cast<int>(m.red.dnWhite));
    fraction("nirWhiteReflectance")->setValue(m.nir.rWhite);
    fraction("redWhiteReflectance")->setValue(m.red.rWhite);
    spin("nirDark")->setValue(static_cast<int>(m.nir.dnDark));
    spin("redDark")->setValue(static_cast<int>(m.red.dnDark));
    fraction("nirDarkReflectance")->setValue(m.nir.rDark);
    fraction("redDarkReflectance")->setValue(m.red.rDark);
}

QString modelText(const view::ViewerWindow& w)
{
    return w.findChild<QLabel*>(QStringLiteral("model"))->text();
}

QString describedLines(const NdviModel& m)
{
    return QStringLiteral("使用中: ") + QString::fromStdString(engine::describeModel(m)).replace(QStringLiteral("; "), QStringLiteral("\n"));
}

QPushButton* button(QWidget& w, const QString& text)
{
    for (QPushButton* b : w.findChildren<QPushButton*>()) {
        if (b->text() == text) return b;
    }
    return nullptr;
}

QAction* actionNamed(QWidget& window, const QString& prefix)
{
    for (QAction* a : window.findChildren<QAction*>()) {
        if (a->text().startsWith(prefix)) return a;
    }
    return nullptr;
}

struct ModelCase {
    const char* name;
    NdviModel model;
    bool typed;  // false: the fields as a new window has them
};

void PrintTo(const ModelCase& c, std::ostream* out)
{
    *out << c.name;
}

const ModelCase kModels[] = {
    {"defaults", NdviModel::plain(255, 255), false},
    {"whiteValuesOnly", NdviModel::plain(201, 187), true},
    {"panelReflectance", {band(243, 0.92f), band(238, 0.9f)}, true},
    {"twoTargets", {band(231, 0.94f, 18, 0.031f), band(226, 0.915f, 21, 0.045f)}, true},
};

class CalibratedView : public ::testing::TestWithParam<ModelCase> {};

TEST_P(CalibratedView, PointerFiguresAndHistogramFollowTheModel)
{
    const Picture p = sweepPicture();
    const NdviModel& m = GetParam().model;
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("f.bmp"), testing_support::encodeBmp(p));
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("f.bmp")));
    if (GetParam().typed) typeModel(v.window, m);
    ASSERT_EQ(v.window.fieldsModel(), m);
    ASSERT_EQ(v.window.model(), m);
    EXPECT_EQ(modelText(v.window), describedLines(m));
    EXPECT_TRUE(v.window.findChild<QLabel*>(QStringLiteral("modelProblem"))->isHidden());

    for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {12, 0}, {5, 4}, {11, 8}, {3, 7}}) {
        EXPECT_EQ(v.hover(x, y).section(QStringLiteral("NDVI="), 1), ndviTextOf(oracleModelNdvi(p.at(x, y), m)))
            << x << "," << y;
    }

    const engine::Rectangle r{0, 0, 9, 6};
    std::vector<double> values;
    std::uint64_t markers = 0;
    std::array<std::uint64_t, 20> bins{};
    for (auto y = r.y1; y <= r.y2; ++y) {
        for (auto x = r.x1; x <= r.x2; ++x) {
            const float n = oracleModelNdvi(p.at(static_cast<int>(x), static_cast<int>(y)), m);
            if (n == -10.0f) {
                ++markers;
                continue;
            }
            values.push_back(n);
            ++bins[static_cast<std::size_t>(std::clamp(static_cast<int>(std::floor((n + 1.0) * 10.0)), 0, 19))];
        }
    }
    double sum = 0, squares = 0;
    for (double x : values) sum += x;
    const double mean = sum / static_cast<double>(values.size());
    for (double x : values) squares += (x - mean) * (x - mean);
    v.window.selectArea(r);
    EXPECT_EQ(v.line(QStringLiteral("NDVI-Mean : ")),
              QStringLiteral("NDVI-Mean : %1  標準偏差 : %2")
                  .arg(fourDecimals(mean), fourDecimals(std::sqrt(squares / static_cast<double>(values.size())))));
    EXPECT_EQ(v.line(QStringLiteral("NDVI-Min : ")),
              QStringLiteral("NDVI-Min : %1  NDVI-Max : %2")
                  .arg(fourDecimals(*std::min_element(values.begin(), values.end())),
                       fourDecimals(*std::max_element(values.begin(), values.end()))));
    EXPECT_EQ(v.line(QStringLiteral("NDVI=-10 ")), QStringLiteral("NDVI=-10 の画素数: %1").arg(markers));
    EXPECT_EQ(v.window.histogram()->counts(), bins);
}

INSTANTIATE_TEST_SUITE_P(Models, CalibratedView, ::testing::ValuesIn(kModels),
                         [](const auto& info) { return std::string(info.param.name); });

// A grey field with a dark target (bytes around 20) and a white panel (around 240).
TEST(DarkTarget, SetFromTheRectangleMeansMarkedAndCleared)
{
    Picture p{24, 14, {}};
    std::uint64_t nirSum = 0, redSum = 0, count = 0;
    for (int y = 0; y < 14; ++y) {
        for (int x = 0; x < 24; ++x) {
            Pixel px{90, 100, 110};
            if (x >= 2 && x <= 8 && y >= 3 && y <= 9) {  // the dark target
                px = {20, static_cast<std::uint8_t>(17 + (3 * x + y) % 7), static_cast<std::uint8_t>(14 + (x + 5 * y) % 9)};
                if (x == 4 && y == 5) px.r = 90;  // a speck of light that a maximum would take
                nirSum += px.r;
                redSum += px.g;
                ++count;
            }
            if (x >= 14 && x <= 21 && y >= 2 && y <= 8) px = {240, 236, 244};
            p.pixels.push_back(px);
        }
    }
    const auto rounded = [&](std::uint64_t s) { return static_cast<int>(std::lround(static_cast<double>(s) / static_cast<double>(count))); };
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("targets.bmp"), testing_support::encodeBmp(p));
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("targets.bmp")));
    QPushButton* setDark = button(v.window, QStringLiteral("暗色板に設定"));
    QPushButton* clearDark = button(v.window, QStringLiteral("暗色板を解除"));
    ASSERT_TRUE(setDark && clearDark);
    EXPECT_FALSE(setDark->isEnabled());  // no rectangle yet
    EXPECT_FALSE(clearDark->isEnabled());

    v.window.selectArea(engine::Rectangle{2, 3, 8, 9});
    QTest::mouseClick(setDark, Qt::LeftButton);
    EXPECT_EQ(v.window.findChild<QSpinBox*>(QStringLiteral("nirDark"))->value(), rounded(nirSum));
    EXPECT_EQ(v.window.findChild<QSpinBox*>(QStringLiteral("redDark"))->value(), rounded(redSum));
    const auto marked = v.window.canvas()->darkTarget();
    ASSERT_TRUE(marked);
    EXPECT_EQ(view::rectangleText(*marked), QStringLiteral("2,3,8,9"));
    EXPECT_TRUE(clearDark->isEnabled());

    // Then the white panel and both reflectances: the model is the two-target one.
    v.window.selectArea(engine::Rectangle{14, 2, 21, 8});
    QTest::mouseClick(button(v.window, QStringLiteral("白色板に設定")), Qt::LeftButton);
    v.window.findChild<QDoubleSpinBox*>(QStringLiteral("nirWhiteReflectance"))->setValue(0.93);
    v.window.findChild<QDoubleSpinBox*>(QStringLiteral("redDarkReflectance"))->setValue(0.04);
    // The fields show whole bytes; the model keeps the means' fractions.
    const auto mean = [&](std::uint64_t s) { return static_cast<float>(static_cast<long double>(s) / count); };
    const NdviModel expected{band(244, 0.93f, mean(nirSum)), band(236, 1, mean(redSum), 0.04f)};
    EXPECT_EQ(v.window.model(), expected);
    EXPECT_EQ(modelText(v.window), describedLines(expected));
    EXPECT_EQ(v.hover(0, 0).section(QStringLiteral("NDVI="), 1), ndviTextOf(oracleModelNdvi(p.at(0, 0), expected)));
    EXPECT_EQ(view::rectangleText(*v.window.canvas()->darkTarget()), QStringLiteral("2,3,8,9"));

    // The same picture again: its rectangles go, the calibration stays.
    ASSERT_TRUE(v.open(dir.path("targets.bmp")));
    EXPECT_FALSE(v.window.canvas()->darkTarget());
    EXPECT_EQ(v.window.model(), expected);

    QTest::mouseClick(clearDark, Qt::LeftButton);
    EXPECT_EQ(v.window.model(), (NdviModel{band(244, 0.93f), band(236, 1)}));
    EXPECT_FALSE(clearDark->isEnabled());
}

// An impossible model is named in red; the picture, the figures and the pointer stay
// on the last possible one, and no raster is written for it.
TEST(ImpossibleModel, IsShownAndNeitherUsedNorExported)
{
    const Picture p = sweepPicture();
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("f.bmp"), testing_support::encodeBmp(p));
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("f.bmp")));
    const NdviModel good{band(200, 0.9f, 30, 0.05f), band(180, 0.88f, 25, 0.04f)};
    typeModel(v.window, good);
    v.window.selectArea(engine::Rectangle{2, 1, 10, 7});
    const QString pointer = v.hover(6, 3);
    const QStringList figures = v.window.panelLines();
    const auto counts = v.window.histogram()->counts();
    auto* problem = v.window.findChild<QLabel*>(QStringLiteral("modelProblem"));

    // A field set to a value that breaks the model, and back to the good one.
    struct Break {
        const char* field;
        double broken, good;
    };
    const auto set = [&](const char* field, double value) {
        if (auto* whole = v.window.findChild<QSpinBox*>(QLatin1String(field))) whole->setValue(static_cast<int>(value));
        else v.window.findChild<QDoubleSpinBox*>(QLatin1String(field))->setValue(value);
    };
    for (const Break b : {Break{"nirDark", 200, 30}, Break{"redWhite", 25, 180}, Break{"redWhite", 3, 180},
                          Break{"nirWhiteReflectance", 0.05, 0.9}}) {
        set(b.field, b.broken);
        const auto expected = engine::modelProblem(v.window.fieldsModel());
        ASSERT_TRUE(expected) << b.field;
        EXPECT_FALSE(problem->isHidden());
        EXPECT_TRUE(problem->text().startsWith(QString::fromStdString(*expected))) << problem->text().toStdString();
        EXPECT_EQ(v.window.model(), good);
        EXPECT_EQ(modelText(v.window), describedLines(good));
        EXPECT_EQ(v.window.pointerText(), pointer);
        EXPECT_EQ(v.window.panelLines(), figures);
        EXPECT_EQ(v.window.histogram()->counts(), counts);

        v.messages.clear();
        const auto tiff = dir.path("no.tif"), raw = dir.path("no.raw");
        EXPECT_FALSE(v.window.exportTiff(QString::fromStdString(tiff.string())));
        EXPECT_FALSE(v.window.exportRaster(QString::fromStdString(raw.string())));
        EXPECT_EQ(v.messages, std::vector<QString>(2, QString::fromStdString(*expected)));
        EXPECT_FALSE(std::filesystem::exists(tiff) || std::filesystem::exists(raw));
        set(b.field, b.good);
        EXPECT_TRUE(problem->isHidden());
        EXPECT_EQ(v.window.model(), good);
    }
}

using testing_support::readTiff;
using testing_support::TiffRead;

class TiffExport : public ::testing::TestWithParam<ModelCase> {};

// Both rasters from the menu hold the oracle's values for the model; the TIFF says how
// it is compressed, which value marks no data and which model made it.
TEST_P(TiffExport, HoldsTheRawExportsValuesWithItsTags)
{
    const Picture p = sweepPicture();
    const NdviModel& m = GetParam().model;
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("f.bmp"), testing_support::encodeBmp(p));
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("f.bmp")));
    v.window.setModel(m);
    v.savePaths = {QString::fromStdString(dir.path("out.tif").string()), QString::fromStdString(dir.path("out.raw").string())};
    actionNamed(v.window, QStringLiteral("NDVI（TIFF float32）"))->trigger();
    actionNamed(v.window, QStringLiteral("NDVIラスター"))->trigger();
    EXPECT_TRUE(v.messages.empty());

    const auto expected = testing_support::expectedNdvi(p, testing_support::targetsOf(m));
    const TiffRead t = readTiff(dir.path("out.tif"));
    testing_support::expectNdviTiffTags(t, 13, 9, engine::describeModel(m));
    EXPECT_EQ(t.values, expected);
    EXPECT_EQ(readFile(dir.path("out.raw")), expected);
    // The ENVI header names the model, as zrvimage-batch's does.
    const auto header = readFile(dir.path("out.hdr"));
    const std::string description = "description = {NDVI, " + engine::describeModel(m) + "}\n";
    EXPECT_TRUE(std::string(header.begin(), header.end()).starts_with("ENVI\n" + description));
}

INSTANTIATE_TEST_SUITE_P(Models, TiffExport, ::testing::ValuesIn(kModels),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TiffExportRefusal, NeverOverTheOpenPicture)
{
    const Picture p = sweepPicture();
    testing_support::TempDir dir;
    const auto file = dir.path("f.bmp");
    testing_support::writeFile(file, testing_support::encodeBmp(p));
    std::filesystem::create_symlink(file, dir.path("link.tif"));
    const auto before = readFile(file);
    Viewer v;
    ASSERT_TRUE(v.open(file));
    EXPECT_FALSE(v.window.exportTiff(QString::fromStdString(file.string())));
    EXPECT_FALSE(v.window.exportTiff(QString::fromStdString(dir.path("link.tif").string())));
    EXPECT_EQ(v.messages, std::vector<QString>(2, QString::fromUtf8(engine::kOutputIsInput)));
    EXPECT_EQ(readFile(file), before);
}

TEST(CalibrationCommandLine, OptionsGiveTheModelOverTheDefaults)
{
    const auto c = view::parseCommandLine({"--white=243,238", "--panel-reflectance", "0.92,.9", "--dark", "12,15",
                                           "--dark-reflectance", "0.031,0.045", "f.bmp"});
    ASSERT_TRUE(c.error.isEmpty()) << c.error.toStdString();
    ASSERT_TRUE(c.model);
    EXPECT_EQ(*c.model, (NdviModel{band(243, 0.92f, 12, 0.031f), band(238, 0.9f, 15, 0.045f)}));
    const auto panelOnly = view::parseCommandLine({"--panel-reflectance", "1,0.955"});
    ASSERT_TRUE(panelOnly.model);
    EXPECT_EQ(*panelOnly.model, (NdviModel{band(255, 1), band(255, 0.955f)}));
    EXPECT_FALSE(view::parseCommandLine({"f.bmp"}).model);

    const std::pair<QStringList, QString> bad[] = {
        {{"--panel-reflectance", "0.92"}, "--panel-reflectance には NIR,RED を 0〜1 の数（小数点以下3桁まで）2つで指定してください: '0.92'"},
        {{"--panel-reflectance", "1.2,0.9"}, "--panel-reflectance には"},
        {{"--panel-reflectance", "-0.1,0.9"}, "--panel-reflectance には"},
        {{"--panel-reflectance", "0.9215,0.9"}, "--panel-reflectance には"},
        {{"--panel-reflectance", "nan,0.9"}, "--panel-reflectance には"},
        {{"--panel-reflectance", "9e-1,0.9"}, "--panel-reflectance には"},
        {{"--dark", "12"}, "--dark には NIR,RED を 0〜254 の整数2つで指定してください: '12'"},
        {{"--dark", "-1,3"}, "--dark には"},
        {{"--dark", "12,255"}, "--dark には"},
        {{"--dark"}, "--dark の値がありません"},
        {{"--dark-reflectance", "0.03,0.04"}, "--dark-reflectance は --dark と一緒に指定してください"},
        {{"--dark", "12,15", "--dark-reflectance", "0.03,x"}, "--dark-reflectance には"},
        // Read as the batch reads them: no spaces, decimal only.
        {{"--dark", "12,15", "--dark-reflectance", "0.031, 0.045"}, "--dark-reflectance には"},
        {{"--dark", "0x0C,15"}, "--dark には"},
        {{"--white", "200,180", "--dark", "200,15"}, "NIR: 白色板の値 (200) は暗色板の値 (200) より大きくなければなりません"},
    };
    for (const auto& [arguments, error] : bad) {
        const auto parsed = view::parseCommandLine(arguments);
        EXPECT_TRUE(parsed.error.startsWith(error)) << arguments.join(' ').toStdString() << " -> " << parsed.error.toStdString();
        EXPECT_FALSE(parsed.model);
    }
}

}  // namespace
