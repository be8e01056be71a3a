// The flat-field: fitted from a synthetic camera's white frames, the gains follow each
// band's own fall-off, and the plots of a scene calibrated by a panel in the middle
// give their true NDVI to the corners; the fast rows agree with the per-pixel
// reference; sizes that do not match are refused; the file reads back.

#include "BmpFixture.h"
#include "SyntheticFlat.h"
#include "TiffRead.h"
#include "engine/calibration/FlatField.h"
#include "engine/calibration/Panel.h"
#include "engine/formats/PictureReader.h"
#include "engine/ops/Runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>

namespace {

using namespace engine;
using flat_sample::Camera;
using testing_support::TempDir;

struct CameraFiles {
    TempDir dir;
    std::vector<std::string> flats;
    std::string dark;
};

void writeCamera(CameraFiles& files, const Camera& camera)
{
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
        files.flats.push_back(files.dir.path("flat" + std::to_string(seed) + ".bmp").string());
        flat_sample::writeBmp(files.flats.back(), flat_sample::flatFrame(camera, seed));
    }
    files.dark = files.dir.path("dark.bmp").string();
    flat_sample::writeBmp(files.dark, flat_sample::darkFrame(camera, 99));
}

// Mean NDVI of each plot, from a whole raster top row first.
std::vector<double> plotMeans(const flat_sample::Scene& scene, const std::vector<float>& ndvi)
{
    std::vector<double> means;
    for (const auto& p : scene.plots) {
        double sum = 0;
        int n = 0;
        for (int y = p.y1; y <= p.y2; ++y) {
            for (int x = p.x1; x <= p.x2; ++x, ++n) sum += ndvi[static_cast<std::size_t>(y) * scene.frame.width + x];
        }
        means.push_back(sum / n);
    }
    return means;
}

std::vector<float> ndviOf(PictureReader& reader, const std::function<void(const NdviRowsObserver&)>& run)
{
    std::vector<float> all;
    run([&](std::int64_t, std::int64_t count, const float* v) { all.insert(all.end(), v, v + count * reader.width()); });
    return all;
}

TEST(FlatFieldCamera, GainsFollowEachBandAndEveryPlotGivesItsTrueNdviOnlyWithTheCorrection)
{
    const Camera camera;
    CameraFiles files;
    writeCamera(files, camera);
    const FlatFieldFit fit = fitFlatField(files.flats, files.dark);
    EXPECT_EQ(fit.frames, 4);
    EXPECT_TRUE(fit.warnings.empty());
    EXPECT_NEAR(fit.model.nir.offset, camera.nirOffset, 0.05);
    EXPECT_NEAR(fit.model.red.offset, camera.redOffset, 0.05);
    EXPECT_LT(fit.model.nir.rmsResidual, 2.0);
    EXPECT_GT(fit.model.nir.cornerFalloff, fit.model.red.cornerFalloff);  // NIR falls off further

    const std::string path = files.dir.path("ff.tif").string();
    writeFlatField(path, fit.model);
    const FlatField flat = FlatField::read(path);
    EXPECT_EQ(flat.model(), fit.model);

    // Within 1 % of the true gain, each normalised to 1 at its brightest pixel.
    double nirTop = 0, redTop = 0;
    for (int y = 0; y < camera.height; ++y) {
        for (int x = 0; x < camera.width; ++x) {
            nirTop = std::max(nirTop, camera.nirGain(x, y));
            redTop = std::max(redTop, camera.redGain(x, y));
        }
    }
    std::vector<float> nir(camera.width), red(camera.width);
    double worst = 0;
    for (int y = 0; y < camera.height; ++y) {
        flat.rowGains(y, nir.data(), red.data());
        for (int x = 0; x < camera.width; ++x) {
            worst = std::max(worst, std::abs(nir[x] / (camera.nirGain(x, y) / nirTop) - 1));
            worst = std::max(worst, std::abs(red[x] / (camera.redGain(x, y) / redTop) - 1));
        }
    }
    EXPECT_LT(worst, 0.01);
    const int w = camera.width - 1, h = camera.height - 1;
    EXPECT_NEAR(fit.model.nir.cornerFalloff,
                100 * (1 - std::min({camera.nirGain(0, 0), camera.nirGain(w, 0), camera.nirGain(0, h), camera.nirGain(w, h)}) / nirTop),
                1.0);

    // The scene, calibrated by its panel and dark target in the middle.
    const flat_sample::Scene scene = flat_sample::plotScene(camera, 7);
    const std::string frame = files.dir.path("scene.bmp").string();
    flat_sample::writeBmp(frame, scene.frame);
    PictureReader reader = PictureReader::open(frame);
    reader.require24Bit();
    const Rectangle rects[] = {{scene.panel[0], scene.panel[1], scene.panel[2], scene.panel[3]},
                               {scene.dark[0], scene.dark[1], scene.dark[2], scene.dark[3]}};
    NdviModel model;
    model.nir.rWhite = model.red.rWhite = static_cast<float>(scene.panelReflectance);
    model.nir.rDark = model.red.rDark = static_cast<float>(scene.darkReflectance);

    NdviModel corrected = model;
    const auto values = correctedPixels(reader, flat, rects);
    corrected.nir.dnWhite = correctedWhiteValue(values[0].nir, WhiteFrom::Mean);
    corrected.red.dnWhite = correctedWhiteValue(values[0].red, WhiteFrom::Mean);
    corrected.nir.dnDark = correctedDarkValue(values[1].nir);
    corrected.red.dnDark = correctedDarkValue(values[1].red);
    ASSERT_FALSE(modelProblem(corrected));
    EXPECT_TRUE(correctedPanelChecks(values[0], corrected.nir.dnWhite, corrected.red.dnWhite).empty());
    const auto with = plotMeans(scene, ndviOf(reader, [&](const NdviRowsObserver& o) {
                                    runCorrectedNdvi(reader, flat, corrected, nullptr, o);
                                }));

    NdviModel plain = model;
    const auto counts = countPixels(reader, rects);
    plain.nir.dnWhite = static_cast<float>(whiteValue(counts[0].nir, counts[0].pixels, WhiteFrom::Mean));
    plain.red.dnWhite = static_cast<float>(whiteValue(counts[0].red, counts[0].pixels, WhiteFrom::Mean));
    plain.nir.dnDark = darkValue(counts[1].nir, counts[1].pixels);
    plain.red.dnDark = darkValue(counts[1].red, counts[1].pixels);
    const auto without = plotMeans(scene, ndviOf(reader, [&](const NdviRowsObserver& o) {
                                       runNdvi(reader, plain, nullptr, o);
                                   }));

    double worstWithout = 0;
    for (std::size_t i = 0; i < scene.plots.size(); ++i) {
        EXPECT_NEAR(with[i], scene.plots[i].ndvi(), 0.01) << "plot " << i;
        worstWithout = std::max(worstWithout, std::abs(without[i] - scene.plots[i].ndvi()));
    }
    // Without the correction the top left corner, where both bands lose the most, is
    // ten times the tolerance off.
    EXPECT_GT(worstWithout, 0.1);
    EXPECT_GT(std::abs(without[0] - scene.plots[0].ndvi()), 0.1);
}

// Each case a flat-field and a calibration; the rows of random bytes (0 and 255 among
// them, a width that leaves a tail past the vector steps) must give the reference's
// bits, and the gains the model's definition's.
struct RowCase {
    const char* name;
    GainModel nir, red;
    NdviModel model;
};

TEST(FlatFieldRows, FastRowsGiveTheReferenceBitForBit)
{
    NdviModel line;
    line.nir = {243, 0.92f, 12, 0.03f};
    line.red = {238, 0.9f, 9, 0.02f};
    const RowCase cases[] = {
        {"plain ratio, no offset", {20.5, 14.25, -0.4, 0.05, -0.01, 1, 0}, {30, 10, -0.2, 0, 0, 1, 0}, NdviModel::plain(250, 240)},
        {"line with offsets", {3, 27, -0.55, 0.1, -0.02, 1, 7.5f}, {37, 0, -0.3, -0.05, 0.03, 1, 4.25f}, line},
        {"corrected above 255", {18, 15, -0.7, 0.2, -0.05, 1, 2}, {18, 15, -0.6, 0.1, 0, 1, 1}, NdviModel::plain(300.5f, 280)},
    };
    std::mt19937 random(5);
    for (const RowCase& c : cases) {
        FlatFieldModel m{37, 29, c.nir, c.red};
        const double q = 1 / (m.radius() * m.radius());
        for (GainModel* g : {&m.nir, &m.red}) {
            double top = 0;
            for (int y = 0; y < m.height; ++y) {
                for (int x = 0; x < m.width; ++x) {
                    const double s = (x - g->cx) * (x - g->cx) * q + (y - g->cy) * (y - g->cy) * q;
                    top = std::max(top, 1 + (g->k1 + (g->k2 + g->k3 * s) * s) * s);
                }
            }
            g->c0 = 1 / top;
        }
        const FlatField flat(m);
        CorrectedNdviRows rows(flat, c.model);
        std::vector<std::uint8_t> pixels(m.width * 3);
        std::vector<float> out(m.width), gn(m.width), gr(m.width);
        for (int y = 0; y < m.height; ++y) {
            for (auto& b : pixels) b = static_cast<std::uint8_t>(random() % 4 == 0 ? (random() % 2) * 255 : random());
            rows.row(y, pixels.data(), out.data());
            flat.rowGains(y, gn.data(), gr.data());
            // The gains as the model's definition evaluates them, step by step.
            for (int x = 0; x < m.width; ++x) {
                for (const auto& [g, got] : {std::pair{&m.nir, gn[x]}, std::pair{&m.red, gr[x]}}) {
                    const double dx = x - g->cx, dy = y - g->cy;
                    const double s = (dx * dx) * q + (dy * dy) * q;
                    const double p = 1 + (g->k1 + (g->k2 + g->k3 * s) * s) * s;
                    ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(static_cast<float>(g->c0 * p)))
                        << c.name << " gain at " << x << "," << y;
                }
            }
            for (int x = 0; x < m.width; ++x) {
                const float want = correctedNdviPixel(pixels[3 * x + 2], pixels[3 * x + 1], gn[x], gr[x], m, c.model);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(out[x]), std::bit_cast<std::uint32_t>(want))
                    << c.name << " at " << x << "," << y;
            }
        }
    }
}

FlatFieldModel smallModel()
{
    FlatFieldModel m{40, 30, {20, 15, -0.3, 0, 0, 1, 2}, {19, 16, -0.2, 0, 0, 1, 1.5f}};
    return m;
}

TEST(FlatFieldSizes, AnotherSizeIsRefusedWithBothSizes)
{
    const FlatField flat(smallModel(), "ff.tif");
    EXPECT_FALSE(flat.sizeProblem(40, 30));
    for (const auto& [w, h] : {std::pair{41, 30}, std::pair{40, 29}}) {
        const auto problem = flat.sizeProblem(w, h);
        ASSERT_TRUE(problem);
        EXPECT_NE(problem->find("40×30"), std::string::npos) << *problem;
        EXPECT_NE(problem->find(std::to_string(w) + "×" + std::to_string(h)), std::string::npos) << *problem;
    }
    testing_support::Picture p{41, 30, std::vector<testing_support::Pixel>(41 * 30)};
    const TempDir dir;
    testing_support::writeFile(dir.path("a.bmp"), testing_support::encodeBmp(p));
    PictureReader reader = PictureReader::open(dir.path("a.bmp").string());
    reader.require24Bit();
    EXPECT_THROW(runCorrectedNdvi(reader, flat, NdviModel::plain(255, 255), nullptr), FlatFieldError);
}

TEST(FlatFieldSizes, FlatsOfDifferentSizesAreRefusedNamingTheFrameAndBothSizes)
{
    const TempDir dir;
    Camera big, small;
    small.width = 200;
    const std::string a = dir.path("a.bmp").string(), b = dir.path("b.bmp").string();
    flat_sample::writeBmp(a, flat_sample::flatFrame(big, 1));
    flat_sample::writeBmp(b, flat_sample::flatFrame(small, 2));
    for (const auto& [flats, dark] : {std::pair{std::vector{a, b}, std::optional<std::string>{}},
                                      std::pair{std::vector{a}, std::optional<std::string>{b}}}) {
        try {
            fitFlatField(flats, dark);
            ADD_FAILURE() << "accepted";
        } catch (const FlatFieldError& e) {
            EXPECT_EQ(e.path(), b);
            EXPECT_NE(e.problem().find("200×300"), std::string::npos) << e.what();
            EXPECT_NE(e.problem().find("400×300"), std::string::npos) << e.what();
        }
    }
}

// --- What cannot be fitted ----------------------------------------------------------

// A white frame whose light, the same in both bands, is level(s) with s the squared
// distance from the frame's centre over the squared half diagonal.
flat_sample::Frame radialFrame(int width, int height, double (*level)(double s))
{
    flat_sample::Frame f{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    const double r2 = (width * width + height * height) / 4.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = x - (width - 1) / 2.0, dy = y - (height - 1) / 2.0;
            const auto v = static_cast<std::uint8_t>(std::clamp(std::lround(level((dx * dx + dy * dy) / r2)), 0L, 255L));
            std::uint8_t* p = f.bgr.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            p[0] = 100;
            p[1] = p[2] = v;
        }
    }
    return f;
}

TEST(FlatFieldRefusals, FlatsNoLensCouldGiveAreRefusedSayingWhy)
{
    struct Case {
        const char* name;
        std::vector<flat_sample::Frame> frames;
        std::vector<std::string> said;  // fragments of the problem
    };
    Camera overexposed;
    overexposed.nirLevel = 290;  // 255 over the whole middle of the NIR band
    const Case cases[] = {
        {"overexposed", {flat_sample::flatFrame(overexposed, 1), flat_sample::flatFrame(overexposed, 2),
                         flat_sample::flatFrame(overexposed, 3)},
         {"中央が 255 で飽和", "flat1.bmp", "flat2.bmp"}},
        {"brighter towards the edges", {radialFrame(320, 240, [](double s) { return 60 + 150 * s; })},
         {"NIR: 画像の周辺が中心より明るく"}},
        {"corners more than 8x darker", {radialFrame(320, 240, [](double s) { return 230 / ((1 + 2.2 * s) * (1 + 2.2 * s)); })},
         {"NIR: 補正の倍率が 8 倍を超え"}},
    };
    for (const Case& c : cases) {
        const TempDir dir;
        std::vector<std::string> flats;
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            flats.push_back(dir.path("flat" + std::to_string(i) + ".bmp").string());
            flat_sample::writeBmp(flats.back(), c.frames[i]);
        }
        try {
            const FlatFieldFit fit = fitFlatField(flats, std::nullopt);
            ADD_FAILURE() << c.name << ": accepted, NIR k1 " << fit.model.nir.k1;
        } catch (const FlatFieldError& e) {
            EXPECT_EQ(e.path(), flats.front()) << c.name;
            for (const std::string& part : c.said) EXPECT_NE(e.problem().find(part), std::string::npos) << c.name << ": " << e.problem();
        }
    }
}

TEST(FlatFieldRefusals, AFitThatFindsNoSurfaceIsRefusedNotTakenForGainOne)
{
    // A frame dark in the middle and lighter outwards, as block means: no cubic in s
    // about any centre near the frame's is positive at its centre.
    const std::int64_t width = 320, height = 240, block = 32;
    const double r2 = (width * width + height * height) / 4.0;
    std::vector<double> means;
    for (std::int64_t by = 0; by < height / block; ++by) {
        for (std::int64_t bx = 0; bx < width / block; ++bx) {
            const double dx = bx * block + 15.5 - 159.5, dy = by * block + 15.5 - 119.5;
            means.push_back(100 * ((dx * dx + dy * dy) / r2 - 0.05));
        }
    }
    try {
        fitGainModels(width, height, block, means, means, 7.5f, 7.5f);
        ADD_FAILURE() << "accepted";
    } catch (const FlatFieldError& e) {
        EXPECT_EQ(e.problem(), "NIR: 周辺減光のモデルの当てはめが収束しません。白い面に模様があるか、一様に照らされていません");
    }
}

TEST(FlatFieldRefusals, ClippedBlocksAwayFromTheMiddleAreLeftOutAndTheFitFollowsTheTrueFallOff)
{
    // A glint at 255 over part of the top left of every flat, in the NIR band only.
    const Camera camera;
    CameraFiles files;
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
        flat_sample::Frame f = flat_sample::flatFrame(camera, seed);
        for (int y = 70; y < 120; ++y) {
            for (int x = 70; x < 130; ++x) f.bgr[(static_cast<std::size_t>(y) * camera.width + x) * 3 + 2] = 255;
        }
        files.flats.push_back(files.dir.path("flat" + std::to_string(seed) + ".bmp").string());
        flat_sample::writeBmp(files.flats.back(), f);
    }
    files.dark = files.dir.path("dark.bmp").string();
    flat_sample::writeBmp(files.dark, flat_sample::darkFrame(camera, 99));
    const FlatFieldFit fit = fitFlatField(files.flats, files.dark);
    EXPECT_EQ(fit.nirSaturated, 4u * 50 * 60);
    EXPECT_EQ(fit.redSaturated, 0u);
    ASSERT_EQ(fit.warnings.size(), 1u);
    // The blocks of 32 the glint touches: columns 2..4, rows 2..3.
    EXPECT_NE(fit.warnings[0].find("その区画（NIR 6、Red 0）は当てはめから除きました"), std::string::npos) << fit.warnings[0];

    // Within 1 % of the true gain, normalised to 1 at its brightest, under the glint too.
    double top = 0;
    for (int y = 0; y < camera.height; ++y) {
        for (int x = 0; x < camera.width; ++x) top = std::max(top, camera.nirGain(x, y));
    }
    const FlatField flat(fit.model);
    std::vector<float> nir(camera.width), red(camera.width);
    double worst = 0;
    for (int y = 0; y < camera.height; ++y) {
        flat.rowGains(y, nir.data(), red.data());
        for (int x = 0; x < camera.width; ++x) worst = std::max(worst, std::abs(nir[x] / (camera.nirGain(x, y) / top) - 1));
    }
    EXPECT_LT(worst, 0.01);
}

TEST(FlatFieldFile, ReadsBackAsTwoFloatBandsWithTheModelInItsDescription)
{
    const TempDir dir;
    const FlatFieldModel m = smallModel();
    writeFlatField(dir.path("ff.tif").string(), m);
    const auto t = testing_support::readTiff(dir.path("ff.tif"));
    ASSERT_TRUE(t.opened);
    EXPECT_EQ(t.width, 40u);
    EXPECT_EQ(t.height, 30u);
    EXPECT_EQ(t.samples, 2);
    EXPECT_EQ(t.bits, 32);
    EXPECT_EQ(t.format, SAMPLEFORMAT_IEEEFP);
    EXPECT_EQ(t.description, flatFieldDescription(m));
    ASSERT_EQ(t.values.size(), 40u * 30 * 2 * 4);
    const FlatField flat(m);
    std::vector<float> nir(40), red(40);
    for (int y = 0; y < 30; ++y) {
        flat.rowGains(y, nir.data(), red.data());
        for (int x = 0; x < 40; ++x) {
            float v[2];
            std::memcpy(v, t.values.data() + (static_cast<std::size_t>(y) * 40 + x) * 8, 8);
            ASSERT_EQ(v[0], nir[x]);
            ASSERT_EQ(v[1], red[x]);
        }
    }
}

TEST(FlatFieldFile, DescriptionsThatAreNoUsableModelAreRefused)
{
    const std::string good = flatFieldDescription(smallModel());
    EXPECT_EQ(parseFlatFieldDescription(good, "f"), smallModel());
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    for (const std::string& text : {std::string(), replaced("zrvimage-flatfield 1", "zrvimage-flatfield 2"),
                                    replaced("size 40 30", "size 40"), replaced("\nRed ", "\nBlue "),
                                    replaced("k1=-0.3", "k1=-3"), replaced("k1=-0.3", "k1=x"),
                                    replaced("offset=2", "offset=-1"),
                                    // brighter towards the edges; more than 8x from the centre to the corners
                                    replaced("k1=-0.3", "k1=0.5"), replaced("k1=-0.3", "k1=-0.95"),
                                    // a number given twice; a band twice
                                    replaced("cx=20 ", "cx=20 cx=21 "), good + good.substr(good.find("NIR "))}) {
        EXPECT_THROW(parseFlatFieldDescription(text, "f"), FlatFieldError) << text;
    }
    // Even gains, as wide as the widest frame the reader takes, and a column wider.
    for (const std::int64_t width : {1'000'000, 1'000'001}) {
        const GainModel even{width / 2.0, 0, 0, 0, 0, 1, 0};
        const std::string text = flatFieldDescription({width, 1, even, even});
        if (width == 1'000'000) {
            EXPECT_EQ(parseFlatFieldDescription(text, "f").width, width);
        } else {
            EXPECT_THROW(parseFlatFieldDescription(text, "f"), FlatFieldError);
        }
    }
}

}  // namespace
