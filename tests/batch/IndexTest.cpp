// --index: each index's raster against its formula, worked out here from the reflectances
// pixel by pixel, in frames stored bottom-up and top-down; the season table's figures of
// another index; the names in headers, descriptions and columns; what is bad usage; and
// NDVI's outputs the same with --index ndvi as without.

#include "BatchRun.h"
#include "ReadBack.h"
#include "TiffRead.h"

#include "NdviOracle.h"
#include "SeasonOracle.h"
#include "SyntheticFlat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <optional>

namespace {

using namespace batch_testing;
using testing_support::Picture;
using testing_support::TempDir;
namespace fs = std::filesystem;

using Value = std::optional<double>;

Value over(Value top, Value bottom)
{
    if (!top || !bottom || *bottom == 0) return std::nullopt;
    return *top / *bottom;
}

Value rootOf(double x)
{
    if (x < 0) return std::nullopt;
    return std::sqrt(x);
}

// The indices as their table defines them, n and r the NIR and red reflectances;
// nothing where the formula divides by zero or takes the root of a negative number.
struct Formula {
    const char* index;  // as --index takes it
    std::function<Value(double n, double r)> value;
};

std::vector<Formula> formulas()
{
    const auto savi = [](double L) {
        return [L](double n, double r) { return over((1 + L) * (n - r), n + r + L); };
    };
    const auto wdrvi = [](double a) {
        return [a](double n, double r) { return over(a * n - r, a * n + r); };
    };
    const auto mnli = [](double L) {
        return [L](double n, double r) { return over((1 + L) * (n * n - r), n * n + r + L); };
    };
    return {
        {"sr", [](double n, double r) { return over(n, r); }},
        {"dvi", [](double n, double r) { return Value(n - r); }},
        {"rdvi", [](double n, double r) { return over(n - r, rootOf(n + r)); }},
        {"savi", savi(0.5)},
        {"savi:0.25", savi(0.25)},
        {"savi:0", savi(0)},
        {"savi:1", savi(1)},
        {"osavi", [](double n, double r) { return over(n - r, n + r + 0.16); }},
        {"msavi2",
         [](double n, double r) -> Value {
             const Value root = rootOf((2 * n + 1) * (2 * n + 1) - 8 * (n - r));
             if (!root) return std::nullopt;
             return (2 * n + 1 - *root) / 2;
         }},
        {"evi2", [](double n, double r) { return over(2.5 * (n - r), n + 2.4 * r + 1); }},
        {"wdrvi", wdrvi(0.2)},
        {"wdrvi:0", wdrvi(0)},  // -1 where red is not 0, and 0 / 0 where it is
        {"wdrvi:0.7", wdrvi(0.7)},
        {"nli", [](double n, double r) { return over(n * n - r, n * n + r); }},
        {"mnli", mnli(0.5)},
        {"mnli:0.1", mnli(0.1)},
        {"tdvi", [](double n, double r) { return over(1.5 * (n - r), rootOf(n * n + r + 0.5)); }},
    };
}

// A pixel's value as every output must hold it: -10 where both bands are 0 or there is
// no value.
float expected(const Formula& f, std::uint8_t nirByte, std::uint8_t redByte, const testing_support::NdviTargets& t)
{
    const float n = testing_support::oracleReflectance(nirByte, t.nir);
    const float r = testing_support::oracleReflectance(redByte, t.red);
    if (n == 0 && r == 0) return -10.0f;
    const Value v = f.value(n, r);
    return v ? static_cast<float>(*v) : -10.0f;
}

// Every NIR level against every red level in steps of 16 and 17 (0 and 255 among them,
// the whites exceeded), 17 x 16: odd rows are padded.
Picture levels()
{
    Picture p{17, 16, {}};
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            p.pixels.push_back({static_cast<std::uint8_t>(7 * x + y), static_cast<std::uint8_t>(17 * y),
                                static_cast<std::uint8_t>(std::min(255, 16 * x))});
        }
    }
    return p;
}

std::vector<float> floatsOf(const std::vector<std::uint8_t>& bytes)
{
    std::vector<float> v(bytes.size() / sizeof(float));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(float));
    return v;
}

std::string textOf(const fs::path& path)
{
    const auto bytes = testing_support::readFile(path);
    return {bytes.begin(), bytes.end()};
}

void writeText(const fs::path& path, const std::string& text)
{
    testing_support::writeFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

TEST(Index, EachRasterIsItsFormulaOfTheReflectancesInEitherRowOrder)
{
    const TempDir dir;
    const Picture picture = levels();
    for (const bool topDown : {false, true}) {
        testing_support::BmpLayout layout;
        layout.topDown = topDown;
        testing_support::writeFile(dir.path("in.bmp"), testing_support::encodeBmp(picture, layout));
        struct Calibration {
            std::vector<std::string> flags;
            testing_support::NdviTargets targets;
        };
        testing_support::NdviTargets line = testing_support::whites(230, 210);
        line.nir = {230, 0.9f, 12, 0.03f};
        line.red = {210, 0.92f, 9, 0.02f};
        const Calibration calibrations[] = {
            {{"--nir-white", "200", "--red-white", "180"}, testing_support::whites(200, 180)},
            {{"--nir-white", "230", "--red-white", "210", "--panel-reflectance", "0.9,0.92", "--dark", "12,9",
              "--dark-reflectance", "0.03,0.02"},
             line},
        };
        for (const Calibration& c : calibrations) {
            for (const Formula& f : formulas()) {
                SCOPED_TRACE(std::string(f.index) + (topDown ? ", top-down" : ", bottom-up") + ", " + c.flags[1]);
                std::vector<std::string> args = {"ndvi", u8(dir.path("in.bmp")), "--index", f.index, "-o",
                                                 u8(dir.path("out.raw")), "--force"};
                args.insert(args.end(), c.flags.begin(), c.flags.end());
                const BatchResult r = runBatch(args);
                ASSERT_EQ(r.status, 0) << r.err;
                const std::vector<float> values = floatsOf(testing_support::readFile(dir.path("out.raw")));
                ASSERT_EQ(values.size(), picture.pixels.size());
                int mismatches = 0;
                for (int y = 0; y < picture.height; ++y) {
                    for (int x = 0; x < picture.width; ++x) {
                        const auto px = picture.at(x, y);
                        const float want = expected(f, px.r, px.g, c.targets);
                        const float got = values[static_cast<std::size_t>(y) * picture.width + x];
                        if (std::memcmp(&want, &got, sizeof want) != 0 && ++mismatches <= 3) {
                            ADD_FAILURE() << "pixel " << x << "," << y << " (NIR " << int(px.r) << ", red " << int(px.g)
                                          << "): " << got << " instead of " << want;
                        }
                    }
                }
            }
        }
    }
}

TEST(Index, NoValueWhereBothBandsAreZeroOrTheFormulaDividesByZero)
{
    // Spelled out, so that the formulas above cannot agree with the code on a wrong
    // no-data rule: sr of red 0, wdrvi:0 of red 0, every index of two zeros.
    const TempDir dir;
    Picture p{3, 1, {{1, 0, 0}, {2, 0, 100}, {3, 100, 100}}};  // (NIR, red): (0, 0), (100, 0), (100, 100)
    testing_support::writeFile(dir.path("in.bmp"), testing_support::encodeBmp(p));
    const struct {
        const char* index;
        std::vector<float> values;
    } cases[] = {
        {"sr", {-10, -10, 1}},
        {"wdrvi:0", {-10, -10, -1}},
        {"dvi", {-10, 0.5f, 0}},
        {"savi:0", {-10, 1, 0}},
    };
    for (const auto& c : cases) {
        const BatchResult r = runBatch({"ndvi", u8(dir.path("in.bmp")), "--nir-white", "200", "--red-white", "200",
                                        "--index", c.index, "-o", u8(dir.path("out.raw")), "--force"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(floatsOf(testing_support::readFile(dir.path("out.raw"))), c.values) << c.index;
    }
}

TEST(Index, NamesAndParametersOutOfRangeAreBadUsageBeforeAnyOutput)
{
    const TempDir dir;
    testing_support::writeFile(dir.path("in.bmp"), testing_support::encodeBmp(levels()));
    const std::string in = u8(dir.path("in.bmp")), out = u8(dir.path("out.raw"));
    const struct {
        std::vector<std::string> more;
        std::string says;
    } cases[] = {
        {{"--index", "savi:1.5"}, "--index: savi の L には 0 から 1 までの数を指定してください: savi:1.5"},
        {{"--index", "savi:-0.1"}, "--index: savi の L には 0 から 1 までの数を指定してください: savi:-0.1"},
        {{"--index", "mnli:nan"}, "--index: mnli の L には 0 から 1 までの数を指定してください: mnli:nan"},
        {{"--index", "savi:"}, "--index: savi の L には 0 から 1 までの数を指定してください: savi:"},
        {{"--index", "wdrvi:0.5x"}, "--index: wdrvi の a には 0 から 1 までの数を指定してください: wdrvi:0.5x"},
        {{"--index", "wdrvi:2"}, "--index: wdrvi の a には 0 から 1 までの数を指定してください: wdrvi:2"},
        {{"--index", "sr:0.5"}, "--index: sr はパラメーターを取りません: sr:0.5"},
        {{"--index", "NDVI"}, "--index: 指数の名前は ndvi、sr、dvi、rdvi、savi[:L]、osavi、msavi2、evi2、wdrvi[:a]、nli、"
                              "mnli[:L]、tdvi のいずれかです: NDVI"},
        {{"--index", "evi"}, "のいずれかです: evi"},
        {{"--index", "savi", "--preview", u8(dir.path("p.png"))}, "--preview のカラー画像は NDVI だけです（--index savi とは同時に使えません）"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"ndvi", in, "--nir-white", "200", "--red-white", "180", "-o", out};
        args.insert(args.end(), c.more.begin(), c.more.end());
        const BatchResult r = runBatch(args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    const BatchResult maxima = runBatch({"maxima", in, "--rect", "0,0,1,1", "--index", "savi"});
    EXPECT_EQ(maxima.status, 2);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(filesIn(dir.dir()), std::vector<std::string>{"in.bmp"});
}

TEST(Index, HeaderDescriptionAndStatisticsNameTheIndex)
{
    const TempDir dir;
    testing_support::writeFile(dir.path("in.bmp"), testing_support::encodeBmp(levels()));
    const std::string in = u8(dir.path("in.bmp"));
    const std::vector<std::string> whites = {"--nir-white", "200", "--red-white", "180"};
    const auto run = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {"ndvi", in, "--force"};
        args.insert(args.end(), whites.begin(), whites.end());
        args.insert(args.end(), more.begin(), more.end());
        return runBatch(args);
    };

    ASSERT_EQ(run({"--index", "savi:0.25", "--envi-header", "-o", u8(dir.path("savi.raw"))}).status, 0);
    EXPECT_EQ(textOf(dir.path("savi.hdr")),
              "ENVI\ndescription = {SAVI (L=0.25), NIR: 白色板 200 (反射率 1); Red: 白色板 180 (反射率 1)}\n"
              "samples = 17\nlines = 16\nbands = 1\nheader offset = 0\ndata type = 4\n"
              "interleave = bsq\nbyte order = 0\nband names = {SAVI (L=0.25)}\ndata ignore value = -10\n");

    ASSERT_EQ(run({"--index", "wdrvi", "--tiff", "-o", u8(dir.path("wdrvi.tif"))}).status, 0);
    const auto tiff = testing_support::readTiff(dir.path("wdrvi.tif"));
    ASSERT_TRUE(tiff.opened);
    EXPECT_EQ(tiff.description.rfind("WDRVI (a=0.2), NIR: ", 0), 0u) << tiff.description;

    // sr goes past the histogram's -1..+1: its histogram is left out, not squeezed into
    // the end bins.
    const BatchResult sr = run({"--index", "sr", "--stats", "--json", "-o", u8(dir.path("sr.raw"))});
    ASSERT_EQ(sr.status, 0) << sr.err;
    const Json srLine = parseJson(sr.out);
    EXPECT_EQ(srLine["index"], "sr");
    EXPECT_TRUE(srLine["histogram"].is_null());
    EXPECT_GT(srLine["max"].get<double>(), 1);
    const BatchResult savi = run({"--index", "savi", "--stats", "-o", u8(dir.path("savi.raw"))});
    ASSERT_EQ(savi.status, 0) << savi.err;
    EXPECT_EQ(savi.out.rfind(in + "\tindex=savi:0.5\tmarkers=1\t", 0), 0u) << savi.out;
    EXPECT_EQ(savi.out.find("histogram=-"), std::string::npos) << savi.out;
}

TEST(Index, NdviAskedByNameWritesTheSameBytesAsWithout)
{
    const TempDir dir;
    testing_support::writeFile(dir.path("in.bmp"), testing_support::encodeBmp(levels()));
    const std::string in = u8(dir.path("in.bmp"));
    std::string lines[2];
    for (int named = 0; named < 2; ++named) {
        const std::string out = u8(dir.path(named ? "named.raw" : "plain.raw"));
        std::vector<std::string> args = {"ndvi", in, "--nir-white", "200", "--red-white", "180", "--envi-header",
                                         "--stats", "--preview", u8(dir.path(named ? "named.png" : "plain.png")), "-o", out};
        if (named) args.insert(args.end(), {"--index", "ndvi"});
        const BatchResult r = runBatch(args);
        ASSERT_EQ(r.status, 0) << r.err;
        lines[named] = r.out.substr(r.out.find('\t'));
    }
    EXPECT_EQ(lines[1], lines[0]);
    for (const char* ext : {".raw", ".hdr", ".png"}) {
        EXPECT_EQ(testing_support::readFile(dir.path(std::string("named") + ext)),
                  testing_support::readFile(dir.path(std::string("plain") + ext)))
            << ext;
    }
}

// The figures the season table's definitions give for the values of one region.
struct Figures {
    std::size_t nodata = 0;
    std::vector<float> sorted;
    double mean = 0, stddev = 0;
};

Figures figuresOf(const std::vector<testing_support::Pixel>& pixels, const Formula& f,
                  const testing_support::NdviTargets& t)
{
    Figures out;
    for (const auto& px : pixels) {
        const float v = expected(f, px.r, px.g, t);
        if (v == -10.0f) {
            ++out.nodata;
        } else {
            out.sorted.push_back(v);
        }
    }
    std::sort(out.sorted.begin(), out.sorted.end());
    for (const float v : out.sorted) out.mean += v;
    out.mean /= static_cast<double>(out.sorted.size());
    for (const float v : out.sorted) out.stddev += (v - out.mean) * (v - out.mean);
    out.stddev = std::sqrt(out.stddev / static_cast<double>(out.sorted.size()));
    return out;
}

TEST(Index, SeasonTableHoldsTheIndexFiguresUnderItsName)
{
    const testing_support::SeasonScene scene;
    const TempDir dir;
    writeText(dir.path("regions.json"), scene.regionsJson(false, false));
    const Picture picture = scene.picture(1.0, 7);
    testing_support::writeFile(dir.path("frame.bmp"), testing_support::encodeBmp(picture));
    const testing_support::NdviTargets t = testing_support::whites(240, 230);
    // sr reaches past 20 here, beyond the range its colours and buckets are fitted to;
    // tdvi's runs past -1..+1 both ways.
    for (const Formula& f : formulas()) {
        const std::string name = std::string(f.index).substr(0, std::string(f.index).find(':'));
        if (name != "sr" && std::string(f.index) != "savi:0.25" && name != "tdvi") continue;
        SCOPED_TRACE(f.index);
        const fs::path csv = dir.path(name + ".csv");
        const BatchResult r = runBatch({"series", u8(dir.path("frame.bmp")), "--regions", u8(dir.path("regions.json")),
                                        "--csv", u8(csv), "--nir-white", "240", "--red-white", "230", "--index",
                                        f.index});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto records = testing_support::parseCsv(textOf(csv));
        ASSERT_EQ(records.size(), 1 + scene.plots.size());
        const auto& header = records.front();
        const auto column = [&](const std::string& key) {
            const auto it = std::find(header.begin(), header.end(), key);
            EXPECT_NE(it, header.end()) << key;
            return static_cast<std::size_t>(it - header.begin());
        };
        EXPECT_EQ(header[4], name + "_mean");
        EXPECT_EQ(header[10], name + "_max");
        for (std::size_t k = 0; k < scene.plots.size(); ++k) {
            SCOPED_TRACE(scene.plots[k].name);
            const auto& row = records[k + 1];
            const Figures want = figuresOf(testing_support::pixelsOf(scene.plots[k], picture), f, t);
            EXPECT_EQ(row[column("nodata_pixels")], std::to_string(want.nodata));
            if (want.sorted.empty()) {
                EXPECT_EQ(row[column(name + "_median")], "");
                continue;
            }
            const auto rank = [&](int p) {
                const std::size_t n = want.sorted.size();
                return want.sorted[std::max<std::size_t>((p * n + 99) / 100, 1) - 1];
            };
            const std::pair<const char*, float> exact[] = {{"_min", want.sorted.front()}, {"_p05", rank(5)},
                                                           {"_median", rank(50)}, {"_p95", rank(95)},
                                                           {"_max", want.sorted.back()}};
            for (const auto& [figure, value] : exact) {
                EXPECT_EQ(std::stof(row[column(name + figure)]), value) << figure;
            }
            EXPECT_NEAR(std::stod(row[column(name + "_mean")]), want.mean, 1e-9);
            EXPECT_NEAR(std::stod(row[column(name + "_std")]), want.stddev, 1e-9);
        }
    }
}

TEST(Index, SeasonTableOfNdviByNameIsTheTableWithout)
{
    const testing_support::SeasonScene scene;
    const TempDir dir;
    writeText(dir.path("regions.json"), scene.regionsJson());
    testing_support::writeFile(dir.path("frame.bmp"), testing_support::encodeBmp(scene.picture(0.9, 3)));
    for (const bool named : {false, true}) {
        std::vector<std::string> args = {"series", u8(dir.path("frame.bmp")), "--regions", u8(dir.path("regions.json")),
                                         "--csv", u8(dir.path(named ? "named.csv" : "plain.csv"))};
        if (named) args.insert(args.end(), {"--index", "ndvi"});
        ASSERT_EQ(runBatch(args).status, 0);
    }
    EXPECT_EQ(textOf(dir.path("named.csv")), textOf(dir.path("plain.csv")));
}

TEST(Index, ThroughAFlatFieldEachPlotHasItsTrueIndexInRasterAndTable)
{
    // The synthetic camera's plots have known reflectances; its lens falls off towards
    // the corners, which the flat-field undoes before the index is taken.
    const TempDir dir;
    const flat_sample::Camera camera;
    const flat_sample::Scene scene = flat_sample::plotScene(camera, 7);
    std::vector<std::string> make = {"flatfield"};
    for (int k = 1; k <= 3; ++k) {
        make.push_back(u8(dir.path("flat" + std::to_string(k) + ".bmp")));
        flat_sample::writeBmp(make.back(), flat_sample::flatFrame(camera, k));
    }
    flat_sample::writeBmp(u8(dir.path("dark.bmp")), flat_sample::darkFrame(camera, 99));
    flat_sample::writeBmp(u8(dir.path("scene.bmp")), scene.frame);
    const std::string flat = u8(dir.path("ff.tif")), frame = u8(dir.path("scene.bmp"));
    make.insert(make.end(), {"--dark-frame", u8(dir.path("dark.bmp")), "-o", flat});
    ASSERT_EQ(runBatch(make).status, 0);
    const auto rect = [](const int* r) {
        return std::to_string(r[0]) + "," + std::to_string(r[1]) + "," + std::to_string(r[2]) + "," + std::to_string(r[3]);
    };
    std::string regions = R"({"regions": [)";
    for (std::size_t i = 0; i < scene.plots.size(); ++i) {
        const auto& p = scene.plots[i];
        const int r[4] = {p.x1, p.y1, p.x2, p.y2};
        regions += R"({"name": "P)" + std::to_string(i) + R"(", "rect": [)" + rect(r) + "]},";
    }
    regions += R"({"name": "panel", "role": "white", "rect": [)" + rect(scene.panel) + "]},";
    regions += R"({"name": "dark", "role": "dark", "rect": [)" + rect(scene.dark) + "]}]}";
    writeText(dir.path("regions.json"), regions);
    const std::vector<std::string> calibration = {"--white-from", "mean", "--panel-reflectance", "0.9,0.9",
                                                  "--dark-reflectance", "0.05,0.05", "--flatfield", flat};
    const Formula tdvi = formulas().back();
    ASSERT_STREQ(tdvi.index, "tdvi");

    std::vector<std::string> ndvi = {"ndvi", frame, "--regions", u8(dir.path("regions.json")), "--index", "tdvi", "-o",
                                     u8(dir.path("tdvi.raw"))};
    ndvi.insert(ndvi.end(), calibration.begin(), calibration.end());
    const BatchResult raster = runBatch(ndvi);
    ASSERT_EQ(raster.status, 0) << raster.err;
    const std::vector<float> values = floatsOf(testing_support::readFile(dir.path("tdvi.raw")));
    ASSERT_EQ(values.size(), static_cast<std::size_t>(scene.frame.width) * scene.frame.height);

    std::vector<std::string> series = {"series", frame, "--regions", u8(dir.path("regions.json")), "--csv",
                                       u8(dir.path("tdvi.csv")), "--index", "tdvi"};
    series.insert(series.end(), calibration.begin(), calibration.end());
    const BatchResult table = runBatch(series);
    ASSERT_EQ(table.status, 0) << table.err;
    const auto records = testing_support::parseCsv(textOf(dir.path("tdvi.csv")));
    ASSERT_EQ(records.size(), 1 + scene.plots.size());
    EXPECT_EQ(records[0][4], "tdvi_mean");
    for (std::size_t i = 0; i < scene.plots.size(); ++i) {
        const auto& p = scene.plots[i];
        const double truth = *tdvi.value(p.nir, p.red);
        const double mean = std::stod(records[i + 1][4]);
        EXPECT_NEAR(mean, truth, 0.02) << "P" << i;
        double sum = 0;
        for (int y = p.y1; y <= p.y2; ++y) {
            for (int x = p.x1; x <= p.x2; ++x) sum += values[static_cast<std::size_t>(y) * scene.frame.width + x];
        }
        EXPECT_NEAR(sum / ((p.x2 - p.x1 + 1) * (p.y2 - p.y1 + 1)), mean, 1e-4) << "P" << i;
    }
}

}  // namespace
