// The flat-field through the command line: made from the synthetic camera's white
// frames, then calibrate, ndvi and series through it give each plot its true NDVI;
// a calibration made through it is refused without it; sizes that differ are refused
// with both sizes.

#include "BatchRun.h"
#include "ReadBack.h"
#include "SyntheticFlat.h"
#include "TiffRead.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using batch_testing::runBatch;
using testing_support::TempDir;

std::string rect(const int* r)
{
    return std::to_string(r[0]) + "," + std::to_string(r[1]) + "," + std::to_string(r[2]) + "," + std::to_string(r[3]);
}

std::string text(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct CameraRun {
    TempDir dir;
    flat_sample::Camera camera;
    flat_sample::Scene scene = flat_sample::plotScene(camera, 7);
    std::vector<std::string> flats;
    std::string dark, frame, flat;

    CameraRun()
    {
        for (int k = 1; k <= 3; ++k) {
            flats.push_back(dir.path("flat" + std::to_string(k) + ".bmp").string());
            flat_sample::writeBmp(flats.back(), flat_sample::flatFrame(camera, k));
        }
        dark = dir.path("dark.bmp").string();
        flat_sample::writeBmp(dark, flat_sample::darkFrame(camera, 99));
        frame = dir.path("scene.bmp").string();
        flat_sample::writeBmp(frame, scene.frame);
        flat = dir.path("ff.tif").string();
    }
};

TEST(FlatFieldCommandLine, EveryCommandThroughTheFlatFieldGivesThePlotsTheirTrueNdvi)
{
    CameraRun run;
    std::vector<std::string> args{"flatfield"};
    args.insert(args.end(), run.flats.begin(), run.flats.end());
    args.insert(args.end(), {"--dark-frame", run.dark, "-o", run.flat});
    const auto made = runBatch(args);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("NIR\t四隅の減光 "), std::string::npos) << made.out;
    EXPECT_NE(made.out.find("Red\t四隅の減光 "), std::string::npos) << made.out;
    EXPECT_EQ(made.err, "");
    const auto tiff = testing_support::readTiff(run.flat);
    EXPECT_EQ(tiff.samples, 2);
    EXPECT_EQ(tiff.width, 400u);
    EXPECT_NE(tiff.description.find("NIR offset="), std::string::npos);

    const std::string cal = run.dir.path("cal.json").string();
    const auto calibrated = runBatch({"calibrate", run.frame, "--white-rect", rect(run.scene.panel), "--dark-rect",
                                      rect(run.scene.dark), "--white-from", "mean", "--panel-reflectance", "0.9,0.9",
                                      "--dark-reflectance", "0.05,0.05", "--flatfield", run.flat, "-o", cal});
    ASSERT_EQ(calibrated.status, 0) << calibrated.err;
    EXPECT_NE(text(cal).find("\"flatfield\": " + batch_testing::Json(batch_testing::u8(std::filesystem::absolute(run.flat))).dump()),
              std::string::npos)
        << text(cal);

    // Without the flat-field the calibration would be read against uncorrected bytes.
    const std::string raw = run.dir.path("ndvi.raw").string();
    EXPECT_EQ(runBatch({"ndvi", run.frame, "--calibration", cal, "-o", raw}).status, 2);
    const auto ndvi = runBatch({"ndvi", run.frame, "--calibration", cal, "--flatfield", run.flat, "-o", raw});
    ASSERT_EQ(ndvi.status, 0) << ndvi.err;
    const auto bytes = testing_support::readFile(raw);
    ASSERT_EQ(bytes.size(), 400u * 300 * 4);

    // series calibrating the frame by its own panel and dark target.
    std::string regions = R"({"regions": [)";
    for (std::size_t i = 0; i < run.scene.plots.size(); ++i) {
        const auto& p = run.scene.plots[i];
        const int r[4] = {p.x1, p.y1, p.x2, p.y2};
        regions += R"({"name": "P)" + std::to_string(i) + R"(", "rect": [)" + rect(r) + "]},";
    }
    regions += R"({"name": "panel", "role": "white", "rect": [)" + rect(run.scene.panel) + "]},";
    regions += R"({"name": "dark", "role": "dark", "rect": [)" + rect(run.scene.dark) + "]}]}";
    const auto regionsPath = run.dir.path("regions.json");
    testing_support::writeFile(regionsPath, std::vector<std::uint8_t>(regions.begin(), regions.end()));
    const std::string csv = run.dir.path("season.csv").string();
    const auto series = runBatch({"series", run.frame, "--regions", regionsPath.string(), "--csv", csv, "--white-from",
                                  "mean", "--panel-reflectance", "0.9,0.9", "--dark-reflectance", "0.05,0.05",
                                  "--flatfield", run.flat});
    ASSERT_EQ(series.status, 0) << series.err;
    std::istringstream lines(text(csv));
    std::string line;
    std::getline(lines, line);  // the header
    std::size_t plot = 0;
    for (; std::getline(lines, line); ++plot) {
        std::vector<std::string> fields;
        std::stringstream fs(line);
        for (std::string f; std::getline(fs, f, ',');) fields.push_back(f);
        ASSERT_GT(fields.size(), 4u) << line;
        const auto& p = run.scene.plots[plot];
        EXPECT_NEAR(std::stod(fields[4]), p.ndvi(), 0.01) << line;
        // The raster of ndvi: the same plot, the same mean.
        double sum = 0;
        for (int y = p.y1; y <= p.y2; ++y) {
            for (int x = p.x1; x <= p.x2; ++x) {
                float v;
                std::memcpy(&v, bytes.data() + (static_cast<std::size_t>(y) * 400 + x) * 4, 4);
                sum += v;
            }
        }
        EXPECT_NEAR(sum / ((p.x2 - p.x1 + 1) * (p.y2 - p.y1 + 1)), std::stod(fields[4]), 1e-4);
    }
    EXPECT_EQ(plot, run.scene.plots.size());
}

TEST(FlatFieldCommandLine, FramesOfAnotherSizeAreRefusedWithBothSizes)
{
    CameraRun run;
    ASSERT_EQ(runBatch({"flatfield", run.flats[0], run.flats[1], "-o", run.flat}).status, 0);
    flat_sample::Camera other;
    other.width = 320;
    const std::string small = run.dir.path("small.bmp").string();
    flat_sample::writeBmp(small, flat_sample::flatFrame(other, 1));
    const std::string regions = run.dir.path("regions.json").string();
    const std::string regionsText = R"({"regions": [{"name": "A", "rect": [0, 0, 9, 9]}]})";
    testing_support::writeFile(regions, std::vector<std::uint8_t>(regionsText.begin(), regionsText.end()));
    const struct {
        std::vector<std::string> args;
    } cases[] = {
        {{"flatfield", run.flats[0], small, "-o", run.dir.path("ff2.tif").string()}},
        {{"flatfield", run.flats[0], "--dark-frame", small, "-o", run.dir.path("ff2.tif").string()}},
        {{"ndvi", small, "--nir-white", "200", "--red-white", "200", "--flatfield", run.flat, "-o",
          run.dir.path("o.raw").string()}},
        {{"calibrate", small, "--white-rect", "0,0,9,9", "--flatfield", run.flat, "-o", run.dir.path("c.json").string()}},
        {{"series", small, "--regions", regions, "--csv", run.dir.path("s.csv").string(), "--nir-white", "200",
          "--red-white", "200", "--flatfield", run.flat}},
    };
    for (const auto& c : cases) {
        const auto r = runBatch(c.args);
        EXPECT_EQ(r.status, 1) << c.args[0] << ": " << r.err;
        EXPECT_NE(r.err.find("320×300"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("400×300"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(small), std::string::npos) << r.err;
    }
}

TEST(FlatFieldCommandLine, FlatsThatCannotBeFittedAreRefusedAndNothingIsWritten)
{
    flat_sample::Camera overexposed;
    overexposed.nirLevel = overexposed.redLevel = 300;
    // Light rising from the middle outwards: a lamp's hot ring, not a lens.
    flat_sample::Frame ring{320, 240, std::vector<std::uint8_t>(320 * 240 * 3)};
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 320; ++x) {
            const double s = ((x - 159.5) * (x - 159.5) + (y - 119.5) * (y - 119.5)) / (200.0 * 200.0);
            std::uint8_t* p = ring.bgr.data() + (static_cast<std::size_t>(y) * 320 + x) * 3;
            p[0] = 90;
            p[1] = p[2] = static_cast<std::uint8_t>(70 + 140 * s);
        }
    }
    const struct {
        const char* name;
        std::vector<flat_sample::Frame> frames;
        std::string said;
    } cases[] = {
        {"overexposed", {flat_sample::flatFrame(overexposed, 1), flat_sample::flatFrame(overexposed, 2)},
         "白い面の画像の中央が 255 で飽和しています（露出オーバー）。中央の明るさが分からないため周辺減光を求められません。"
         "露出を下げて撮り直してください（ほかに中央が飽和した画像: "},
        {"brighter outwards", {ring}, "NIR: 画像の周辺が中心より明るく、レンズの周辺減光ではありません（中心の明るさは最も明るい所の "},
    };
    for (const auto& c : cases) {
        const TempDir dir;
        std::vector<std::string> args{"flatfield"};
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            args.push_back(dir.path("flat" + std::to_string(i) + ".bmp").string());
            flat_sample::writeBmp(args.back(), c.frames[i]);
        }
        const std::string out = dir.path("ff.tif").string();
        args.insert(args.end(), {"-o", out});
        const auto r = runBatch(args);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        // One line naming the first frame, the others named in it.
        EXPECT_EQ(r.err.rfind("zrvimage-batch: " + args[1] + ": " + c.said, 0), 0u) << c.name << ": " << r.err;
        if (c.frames.size() > 1) {
            EXPECT_NE(r.err.find(args[2] + "）\n"), std::string::npos) << r.err;
        }
        // Nothing but the flats in the folder: no file, no leftover.
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.dir())) ++entries;
        EXPECT_EQ(entries, c.frames.size()) << c.name;
    }
}

}  // namespace
