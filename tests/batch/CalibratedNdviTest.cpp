// ndvi with a known panel reflectance and a dark target, and the raster as float32
// TIFF: how the options become the model, that the raster follows the empirical line,
// where the model is reported, and that a TIFF is staged like every other output.

#include "BatchRun.h"
#include "ReadBack.h"
#include "TiffRead.h"

#include "ExpectedOutput.h"
#include "batch/FileRun.h"
#include "batch/OutputPlan.h"
#include "engine/formats/NdviTiff.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

namespace {

using namespace batch_testing;
using engine::BandCalibration;
using engine::NdviModel;
using testing_support::encodeBmp;
using testing_support::Picture;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = std::filesystem;

// Every pair of 18 levels of the NIR (red) byte and the visible red (green) byte,
// 0 and 255 among them, so pixels fall below the dark target, between the targets
// and above the white panel, and both bands are 0 at the top left.
Picture everyLevel()
{
    Picture p{18, 18, {}};
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 18; ++x) p.pixels.push_back({static_cast<std::uint8_t>(x + 3 * y), static_cast<std::uint8_t>(15 * y), static_cast<std::uint8_t>(15 * x)});
    }
    return p;
}

constexpr BandCalibration band(float dnWhite, float rWhite = 1, float dnDark = 0, float rDark = 0)
{
    return {dnWhite, rWhite, dnDark, rDark};
}

std::vector<std::string> ndviArgs(const std::string& input, std::vector<std::string> more)
{
    std::vector<std::string> args{"ndvi", input, "--nir-white", "243", "--red-white", "238"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

batch::Options parsed(const std::vector<std::string>& args)
{
    const batch::ParseResult result = batch::parseCommandLine(args);
    if (const auto* error = std::get_if<batch::UsageError>(&result)) ADD_FAILURE() << error->message;
    return std::get<batch::Options>(result);
}

TEST(BatchCalibrationOptions, MakeTheModelFromTheWhiteValuesPanelAndDarkTarget)
{
    const struct {
        std::vector<std::string> options;
        NdviModel model;
    } cases[] = {
        {{}, NdviModel::plain(243, 238)},
        {{"--panel-reflectance", "0.92,0.90"}, {band(243, 0.92f), band(238, 0.9f)}},
        {{"--panel-reflectance=1,.5"}, {band(243, 1), band(238, 0.5f)}},
        // Rounded once to the nearest float, as the same text in the source is.
        {{"--panel-reflectance", "0.123,0.001"}, {band(243, 0.123f), band(238, 0.001f)}},
        {{"--dark", "12,9"}, {band(243, 1, 12), band(238, 1, 9)}},
        {{"--dark", "12,9", "--dark-reflectance", "0.03,0.020", "--panel-reflectance", "0.92,0.9"},
         {band(243, 0.92f, 12, 0.03f), band(238, 0.9f, 9, 0.02f)}},
        {{"--dark", "0,0", "--dark-reflectance", "0,0."}, NdviModel::plain(243, 238)},
    };
    for (const auto& c : cases) {
        auto options = c.options;
        options.insert(options.end(), {"-o", "out.raw"});
        const batch::Options o = parsed(ndviArgs("in.bmp", options));
        EXPECT_EQ(o.model, c.model) << engine::describeModel(o.model);
    }
}

TEST(BatchCalibrationOptions, ReflectancesAreDecimalsWithAFullStopOnly)
{
    for (const char* text : {"1e-1", "0x0.8", "inf", "nan", "+0.5", " 0.5", "0.5 ", "0.5.1", ".", "-", "", "0.5%",
                             "０.５", "0.1234"}) {
        const auto result = batch::parseCommandLine(ndviArgs("in.bmp", {"-o", "out.raw", "--panel-reflectance", std::string(text) + ",0.9"}));
        const auto* error = std::get_if<batch::UsageError>(&result);
        ASSERT_NE(error, nullptr) << text;
        EXPECT_EQ(error->message, "--panel-reflectance の '" + std::string(text) + "' は小数ではありません（例: 0.92）");
    }
}

// Makes a locale whose decimal separator is a comma the C library's own, as a
// program embedding the batch (a Qt one calls setlocale) may have it. Built from
// the system's locale sources when none is installed.
class CommaLocale {
public:
    CommaLocale()
    {
#ifdef _WIN32
        for (const char* name : {"de-DE", "German_Germany.1252", "fr-FR", "French_France.1252"}) {
            if (use(name)) return;
        }
#else
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            if (use(name)) return;
        }
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + dir_.path("de_DE.UTF-8").string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return;
        ::setenv("LOCPATH", dir_.dir().c_str(), 1);
        use("de_DE.UTF-8");
        ::unsetenv("LOCPATH");
#endif
    }
    ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
    bool active() const { return active_; }

private:
    bool use(const char* name)
    {
        active_ = std::setlocale(LC_ALL, name) != nullptr && std::strcmp(std::localeconv()->decimal_point, ",") == 0;
        if (!active_) std::setlocale(LC_ALL, "C");
        return active_;
    }
    TempDir dir_;
    bool active_ = false;
};

TEST(BatchCalibrationOptions, ReadAndReportTheSameUnderACommaDecimalLocale)
{
    TempDir dir;
    const std::string in = dir.path("a.bmp").string();
    writeFile(in, encodeBmp(testing_support::asymmetricPicture()));
    const CommaLocale locale;
    if (!locale.active()) GTEST_SKIP() << "no locale with a decimal comma here";

    EXPECT_EQ(parsed(ndviArgs(in, {"-o", "x.raw", "--panel-reflectance", "0.92,0.90"})).model,
              (NdviModel{band(243, 0.92f), band(238, 0.9f)}));
    const BatchResult refused = runBatch(ndviArgs(in, {"-o", "x.raw", "--panel-reflectance", "0,92,0,90"}));
    EXPECT_EQ(refused.status, batch::kBadUsage) << refused.err;

    const BatchResult result = runBatch(ndviArgs(in, {"--out-dir", dir.path("out").string(), "--panel-reflectance",
                                                      "0.92,0.9", "--dark", "12,9", "--dark-reflectance", "0.03,0.02",
                                                      "--stats", "--envi-header"}));
    ASSERT_EQ(result.status, batch::kAllSucceeded) << result.err;
    EXPECT_TRUE(result.out.ends_with("\tmodel=nir:243,0.92,12,0.03;red:238,0.9,9,0.02\n")) << result.out;
    const auto header = readFile(dir.path("out/a.hdr"));
    EXPECT_NE(std::string(header.begin(), header.end()).find("反射率 0.92"), std::string::npos);
}

// A model the engine refuses stops the run before any file is touched, even with
// --force over outputs from an earlier run.
TEST(BatchCalibrationOptions, RefusedModelsAreBadUsageAndLeaveEveryOutputAsItWas)
{
    const struct {
        std::vector<std::string> options;
        const char* message;
    } cases[] = {
        {{"--dark", "243,9"}, "NIR: 白色板の値 (243) は暗色板の値 (243) より大きくなければなりません"},
        {{"--dark", "12,240"}, "Red: 白色板の値 (238) は暗色板の値 (240) より大きくなければなりません"},
        {{"--panel-reflectance", "0.92,1.01"}, "Red: 反射率は 0 から 1 の範囲で指定してください"},
        {{"--panel-reflectance", "-0.5,0.9"}, "NIR: 反射率は 0 から 1 の範囲で指定してください"},
        {{"--dark", "12,9", "--dark-reflectance", "1.5,0"}, "NIR: 反射率は 0 から 1 の範囲で指定してください"},
        {{"--dark", "-1,9"}, "--dark には 0 以上の整数を指定してください"},
        {{"--dark", "abc,9"}, "'abc' は整数ではありません."},
        // Decimal, as the viewer reads them, not the window's hexadecimal.
        {{"--dark", "$C,9"}, "'$C' は整数ではありません."},
        {{"--dark", "12,0x9"}, "'0x9' は整数ではありません."},
        {{"--dark", "12"}, "--dark は NIR,RED の形で指定してください"},
        {{"--panel-reflectance", "0,92,0,90"}, "--panel-reflectance は NIR,RED の形で指定してください"},
        {{"--dark-reflectance", "0.03,0.02"}, "--dark-reflectance は --dark と一緒に指定してください"},
        {{"--tiff", "--envi-header"}, "--envi-header は --tiff と同時に使えません"},
        {{"--tiff-level", "2"}, "--tiff-level は --tiff と一緒に指定してください"},
        {{"--tiff", "--tiff-level", "0"}, "--tiff-level には 1 から 12 の整数を指定してください"},
        {{"--tiff", "--tiff-level", "13"}, "--tiff-level には 1 から 12 の整数を指定してください"},
        {{"--tiff", "--tiff-level", "x"}, "'x' は整数ではありません."},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto in = dir.path("a.bmp");
        writeFile(in, encodeBmp(testing_support::asymmetricPicture()));
        fs::create_directories(dir.path("out"));
        for (const char* name : {"out/a.raw", "out/a.tif", "out/a.hdr", "out/a.png"}) writeFile(dir.path(name), {'o', 'l', 'd'});

        auto options = c.options;
        options.insert(options.end(), {"--out-dir", dir.path("out").string(), "--preview-dir", dir.path("out").string(),
                                       "--force"});
        if (std::find(options.begin(), options.end(), "--tiff") == options.end()) options.push_back("--envi-header");
        const BatchResult result = runBatch(ndviArgs(in.string(), options));
        EXPECT_EQ(result.status, batch::kBadUsage) << c.message;
        EXPECT_TRUE(result.err.starts_with("zrvimage-batch: " + std::string(c.message))) << result.err;
        EXPECT_EQ(filesIn(dir.path("out")), (std::vector<std::string>{"a.hdr", "a.png", "a.raw", "a.tif"}));
        for (const auto& name : filesIn(dir.path("out"))) {
            EXPECT_EQ(readFile(dir.path("out") / name), (std::vector<std::uint8_t>{'o', 'l', 'd'})) << c.message << ": " << name;
        }
    }
}

TEST(BatchCalibratedRaster, FollowsTheEmpiricalLineForEveryModel)
{
    const struct {
        std::vector<std::string> options;
        NdviModel model;
    } cases[] = {
        {{}, NdviModel::plain(243, 238)},
        {{"--panel-reflectance", "0.92,0.9"}, {band(243, 0.92f), band(238, 0.9f)}},
        {{"--dark", "12,9"}, {band(243, 1, 12), band(238, 1, 9)}},
        {{"--panel-reflectance", "0.5,0.45", "--dark", "30,20", "--dark-reflectance", "0.05,0.1"},
         {band(243, 0.5f, 30, 0.05f), band(238, 0.45f, 20, 0.1f)}},
    };
    const Picture picture = everyLevel();
    for (const auto& c : cases) {
        TempDir dir;
        const auto in = dir.path("levels.bmp");
        writeFile(in, encodeBmp(picture));
        auto options = c.options;
        options.insert(options.end(), {"-o", dir.path("levels.raw").string()});
        const BatchResult result = runBatch(ndviArgs(in.string(), options));
        ASSERT_EQ(result.status, batch::kAllSucceeded) << result.err;
        EXPECT_TRUE(readFile(dir.path("levels.raw")) == testing_support::expectedNdvi(picture, testing_support::targetsOf(c.model))) << engine::describeModel(c.model);
    }
}

TEST(BatchCalibrationReport, StatsJsonAndEnviHeaderNameTheModel)
{
    TempDir dir;
    const auto in = dir.path("a.bmp");
    writeFile(in, encodeBmp(testing_support::asymmetricPicture()));
    const std::vector<std::string> model{"--panel-reflectance", "0.92,0.9", "--dark", "12,9", "--dark-reflectance", "0.03,0"};

    auto options = model;
    options.insert(options.end(), {"-o", dir.path("a.raw").string(), "--stats", "--envi-header"});
    const BatchResult text = runBatch(ndviArgs(in.string(), options));
    ASSERT_EQ(text.status, batch::kAllSucceeded) << text.err;
    EXPECT_TRUE(text.out.ends_with("\tmodel=nir:243,0.92,12,0.03;red:238,0.9,9,0\n")) << text.out;
    const auto header = readFile(dir.path("a.hdr"));
    EXPECT_TRUE(std::string(header.begin(), header.end())
                    .starts_with("ENVI\ndescription = {NDVI, NIR: 白色板 243 (反射率 0.92), 暗色板 12 (反射率 0.03); "
                                 "Red: 白色板 238 (反射率 0.9), 暗色板 9 (反射率 0)}\nsamples = 6\n"))
        << std::string(header.begin(), header.end());

    options.insert(options.end(), {"--json", "--force"});
    const BatchResult json = runBatch(ndviArgs(in.string(), options));
    ASSERT_EQ(json.status, batch::kAllSucceeded) << json.err;
    const Json line = parseJson(json.out);
    ASSERT_TRUE(line.is_object()) << json.out;
    // The numbers as typed, not as their floats print in full.
    EXPECT_NE(json.out.find("\"white_reflectance\":0.92,"), std::string::npos) << json.out;
    const std::vector<std::string> keys{"dark", "dark_reflectance", "white", "white_reflectance"};
    ASSERT_TRUE(line.contains("model") && line["model"].contains("nir") && line["model"].contains("red")) << json.out;
    const Json& nir = line["model"]["nir"];
    const Json& red = line["model"]["red"];
    ASSERT_EQ(keysOf(nir), keys);
    ASSERT_EQ(keysOf(red), keys);
    EXPECT_EQ(nir["white"].get<double>(), 243);
    EXPECT_EQ(nir["white_reflectance"].get<float>(), 0.92f);
    EXPECT_EQ(nir["dark"].get<double>(), 12);
    EXPECT_EQ(nir["dark_reflectance"].get<float>(), 0.03f);
    EXPECT_EQ(red["white"].get<double>(), 238);
    EXPECT_EQ(red["white_reflectance"].get<float>(), 0.9f);
    EXPECT_EQ(red["dark"].get<double>(), 9);
    EXPECT_EQ(red["dark_reflectance"].get<double>(), 0);
}

using testing_support::readTiff;
using testing_support::TiffRead;

// 300 columns make strips of 218 rows, which the engine's blocks of rows do not
// line up with; stored top-down, so rows landing upside down would show.
TEST(BatchTiff, HoldsTheRawFilesValuesCompressedWithThePredictorAndNoData)
{
    Picture picture = testing_support::asymmetricPicture(300, 500);
    picture.pixels[0] = {9, 0, 0};  // the marker
    TempDir dir;
    const auto in = dir.path("frame.bmp");
    writeFile(in, encodeBmp(picture, {.topDown = true}));
    const std::vector<std::string> model{"--panel-reflectance", "0.92,0.9", "--dark", "12,9"};

    auto rawOptions = model;
    rawOptions.insert(rawOptions.end(), {"--out-dir", dir.path("raw").string()});
    ASSERT_EQ(runBatch(ndviArgs(in.string(), rawOptions)).status, batch::kAllSucceeded);
    auto tiffOptions = model;
    tiffOptions.insert(tiffOptions.end(), {"--out-dir", dir.path("tiff").string(), "--tiff", "--json"});
    const BatchResult result = runBatch(ndviArgs(in.string(), tiffOptions));
    ASSERT_EQ(result.status, batch::kAllSucceeded) << result.err;
    const Json line = parseJson(result.out);
    EXPECT_TRUE(line.is_object() && line.contains("output") && line["output"] == u8(dir.path("tiff") / "frame.tif"))
        << result.out;
    EXPECT_EQ(filesIn(dir.path("tiff")), std::vector<std::string>{"frame.tif"});

    const TiffRead t = readTiff(dir.path("tiff/frame.tif"));
    testing_support::expectNdviTiffTags(
        t, 300, 500, "NIR: 白色板 243 (反射率 0.92), 暗色板 12 (反射率 0); Red: 白色板 238 (反射率 0.9), 暗色板 9 (反射率 0)");
    const auto raw = readFile(dir.path("raw/frame.raw"));
    ASSERT_EQ(t.values.size(), raw.size());
    EXPECT_TRUE(t.values == raw);
    float first;
    std::memcpy(&first, t.values.data(), 4);
    EXPECT_EQ(first, -10.0f);
}

// Every shape of strip layout and level gives the raw file's values, read back by
// libtiff, and by GDAL where it is installed (the benchmark installs it): a row to a
// strip, many strips in flight, a last strip cut short, rows with padding.
TEST(BatchTiff, LibtiffAndGdalReadTheRawFilesValuesWhateverTheShapeAndLevel)
{
    const bool gdal = std::system("gdal_translate --version > /dev/null 2>&1") == 0;
    const struct {
        int width, height;
        bool topDown;
        const char* level;
    } cases[] = {
        {1, 1, false, "2"}, {3, 7, true, "12"}, {300, 500, true, "1"}, {2000, 300, false, "2"}, {70001, 3, false, "6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " level " + c.level);
        TempDir dir;
        const auto in = dir.path("frame.bmp");
        writeFile(in, encodeBmp(testing_support::asymmetricPicture(c.width, c.height), {.topDown = c.topDown}));
        ASSERT_EQ(runBatch(ndviArgs(in.string(), {"-o", dir.path("frame.raw").string()})).status, batch::kAllSucceeded);
        const BatchResult result = runBatch(
            ndviArgs(in.string(), {"-o", dir.path("frame.tif").string(), "--tiff", "--tiff-level", c.level}));
        ASSERT_EQ(result.status, batch::kAllSucceeded) << result.err;
        const auto raw = readFile(dir.path("frame.raw"));
        EXPECT_TRUE(readTiff(dir.path("frame.tif")).values == raw);
        if (!gdal) continue;
        const std::string command = "gdal_translate -q -of ENVI '" + dir.path("frame.tif").string() + "' '" +
                                    dir.path("gdal.raw").string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_TRUE(readFile(dir.path("gdal.raw")) == raw);
    }
    if (!gdal) GTEST_SKIP() << "GDAL is not installed: read back by libtiff only";
}

// A TIFF that fails, at its first row or once written, leaves the earlier one and
// no temporary file.
TEST(BatchTiff, FailedFileKeepsItsOldTiffAndLeavesNoTemporaryFile)
{
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};
    for (const bool cancelled : {true, false}) {
        SCOPED_TRACE(cancelled ? "cancelled" : "preview name is a folder");
        TempDir dir;
        const auto in = dir.path("a.bmp");
        writeFile(in, encodeBmp(testing_support::asymmetricPicture(7, 3)));
        fs::create_directories(dir.path("out"));
        writeFile(dir.path("out/a.tif"), old);
        if (!cancelled) fs::create_directory(dir.path("out/a.png"));

        const auto options = parsed(ndviArgs(in.string(), {"--out-dir", dir.path("out").string(), "--tiff",
                                                           "--preview-dir", dir.path("out").string(), "--force"}));
        const std::atomic<bool> cancel{cancelled};
        std::vector<std::string> messages;
        const batch::FileOutcome outcome = batch::runFile(
            options, batch::planJobs(options)[0], [&](const std::string& m) { messages.push_back(m); }, &cancel);
        EXPECT_FALSE(outcome.succeeded);
        if (!cancelled) {
            EXPECT_EQ(messages, std::vector<std::string>{"出力ファイルを作成できません（フォルダーです）\n" + u8(dir.path("out") / "a.png")});
        }
        const std::vector<std::string> left = cancelled ? std::vector<std::string>{"a.tif"}
                                                        : std::vector<std::string>{"a.png", "a.tif"};
        EXPECT_EQ(filesIn(dir.path("out")), left);
        EXPECT_EQ(readFile(dir.path("out/a.tif")), old);
    }
}

}  // namespace
