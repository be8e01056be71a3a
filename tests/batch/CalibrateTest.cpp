// zrvimage-batch calibrate and ndvi --calibration: the file gives the model the flags
// give, bit for bit; calibrate then ndvi --calibration gives the raster the formula
// gives; the panel checks and --strict; and what is bad usage or a failed frame.

#include "BatchRun.h"

#include "NdviOracle.h"
#include "batch/CommandLine.h"
#include "engine/calibration/CalibrationFile.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <sstream>

namespace {

using namespace batch_testing;
using testing_support::encodeBmp;
using testing_support::Picture;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = std::filesystem;

std::array<std::uint32_t, 8> bitsOf(const engine::NdviModel& m)
{
    const auto b = [](float f) { return std::bit_cast<std::uint32_t>(f); };
    return {b(m.nir.dnWhite), b(m.nir.rWhite), b(m.nir.dnDark), b(m.nir.rDark),
            b(m.red.dnWhite), b(m.red.rWhite), b(m.red.dnDark), b(m.red.rDark)};
}

engine::NdviModel parsedModel(const std::vector<std::string>& args)
{
    const batch::ParseResult result = batch::parseCommandLine(args);
    if (const auto* error = std::get_if<batch::UsageError>(&result)) {
        ADD_FAILURE() << error->message;
        return {};
    }
    return std::get<batch::Options>(result).model;
}

// A file as a person would type it, each number's text as given.
std::string handWritten(const std::string& nirWhite, const std::string& redWhite, const std::string& panel,
                        const std::string& dark, const std::string& darkReflectance)
{
    const auto band = [&](const std::string& white) {
        return "{\"white\": " + white + ", \"white_reflectance\": " + panel + ", \"dark\": " + dark
               + ", \"dark_reflectance\": " + darkReflectance + "}";
    };
    return R"({"format": "zrvimage-calibration", "version": 1, "nir": )" + band(nirWhite) + ", \"red\": " + band(redWhite)
           + "}\n";
}

TEST(CalibrationFileAndFlags, GiveTheSameModelBitForBitForEveryReflectanceAndByte)
{
    struct Case {
        std::vector<std::string> flags;
        std::string text;
    };
    std::vector<Case> cases;
    for (int k = 0; k <= 1000; ++k) {
        char text[8];
        std::snprintf(text, sizeof text, "%d.%03d", k / 1000, k % 1000);
        const std::string r = text;
        if (k > 0) cases.push_back({{"--nir-white", "243", "--red-white", "238", "--panel-reflectance", r + "," + r},
                                    handWritten("243", "238", r, "0", "0")});
        if (k < 1000) {
            cases.push_back({{"--nir-white", "243", "--red-white", "238", "--dark", "12,12", "--dark-reflectance", r + "," + r},
                             handWritten("243", "238", "1", "12", r)});
        }
    }
    for (int v = 1; v <= 255; ++v) {
        const std::string w = std::to_string(v);
        const std::string other = std::to_string(256 - v);
        cases.push_back({{"--nir-white", w, "--red-white", other}, handWritten(w, other, "1", "0", "0")});
        const std::string d = std::to_string(v - 1);
        cases.push_back({{"--nir-white", "255", "--red-white", "255", "--dark", d + "," + d},
                         handWritten("255", "255", "1", d, "0")});
    }
    for (const auto& c : cases) {
        std::vector<std::string> args{"ndvi", "in.bmp", "-o", "out.raw"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        const engine::NdviModel fromFlags = parsedModel(args);

        // The text the file would hold (ndvi --calibration reads the file and parses
        // its text so; writing thousands of files would only time the disk).
        const engine::NdviModel fromFile = engine::parseCalibration(c.text, "cal.json").model;
        ASSERT_EQ(bitsOf(fromFile), bitsOf(fromFlags)) << c.text;
        // And once more as the program writes it.
        engine::CalibrationRecord record;
        record.model = fromFlags;
        const auto back = engine::parseCalibration(engine::calibrationText(record), "cal.json").model;
        ASSERT_EQ(bitsOf(back), bitsOf(fromFlags)) << engine::calibrationText(record);
    }
}

// 14 x 11: a white panel at x 2..6, y 1..4, bright and a little uneven; a dark target
// at x 9..10, y 7..8; every other pixel a different level of both bands.
Picture panelFrame()
{
    Picture p{14, 11, {}};
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            testing_support::Pixel px{static_cast<std::uint8_t>(3 * x), static_cast<std::uint8_t>((21 * y + 3 * x) % 256),
                                      static_cast<std::uint8_t>((16 * x + 7 * y) % 256)};
            if (x >= 2 && x <= 6 && y >= 1 && y <= 4) {
                px.r = static_cast<std::uint8_t>(230 + (x + y) % 3);
                px.g = static_cast<std::uint8_t>(220 + (x * y) % 4);
            }
            if (x >= 9 && x <= 10 && y >= 7 && y <= 8) {
                px.r = static_cast<std::uint8_t>(10 + x % 2);  // mean 10.5
                px.g = static_cast<std::uint8_t>(5 + y % 2);   // mean 5.5
            }
            p.pixels.push_back(px);
        }
    }
    return p;
}

std::vector<float> floatsOf(const std::vector<std::uint8_t>& bytes)
{
    std::vector<float> v(bytes.size() / 4);
    std::memcpy(v.data(), bytes.data(), v.size() * 4);
    return v;
}

TEST(Calibrate, ThenNdviWithTheFileGivesTheRasterOfTheFormulaAndOfTheEquivalentFlags)
{
    TempDir dir;
    const Picture picture = panelFrame();
    const std::string frame = dir.path("frame.bmp").string();
    writeFile(frame, encodeBmp(picture));
    const std::string cal = dir.path("panel.json").string();

    const BatchResult calibrated =
        runBatch({"calibrate", frame, "--white-rect", "2,1,6,4", "--dark-rect", "9,7,10,8", "--panel-reflectance",
                  "0.92,0.9", "--dark-reflectance", "0.03,0.02", "-o", cal});
    ASSERT_EQ(calibrated.status, batch::kAllSucceeded) << calibrated.err;
    EXPECT_EQ(calibrated.out,
              "NIR: 白色板 232 (反射率 0.92), 暗色板 10.5 (反射率 0.03); Red: 白色板 223 (反射率 0.9), 暗色板 5.5 (反射率 0.02)\n");
    EXPECT_EQ(calibrated.err, "");
    const engine::CalibrationRecord record = engine::readCalibrationFile(cal);
    EXPECT_EQ(record.source.frame, fs::absolute(frame).lexically_normal().string());
    EXPECT_EQ(record.source.whiteFrom, engine::WhiteFrom::Maximum);
    EXPECT_EQ(record.source.date.size(), std::string("2026-05-14T09:30:00Z").size());

    const BatchResult fromFile =
        runBatch({"ndvi", frame, "--calibration", cal, "-o", dir.path("a.raw").string(), "--envi-header"});
    ASSERT_EQ(fromFile.status, batch::kAllSucceeded) << fromFile.err;
    const BatchResult fromFlags = runBatch({"ndvi", frame, "--nir-white", "232", "--red-white", "223", "--panel-reflectance",
                                            "0.92,0.9", "--dark", "10.5,5.5", "--dark-reflectance", "0.03,0.02", "-o",
                                            dir.path("b.raw").string(), "--envi-header"});
    ASSERT_EQ(fromFlags.status, batch::kAllSucceeded) << fromFlags.err;
    EXPECT_EQ(readFile(dir.path("a.raw")), readFile(dir.path("b.raw")));
    EXPECT_EQ(readFile(dir.path("a.hdr")), readFile(dir.path("b.hdr")));

    testing_support::NdviTargets targets;
    targets.nir = {232, 0.92f, 10.5f, 0.03f};
    targets.red = {223, 0.9f, 5.5f, 0.02f};
    const std::vector<float> raster = floatsOf(readFile(dir.path("a.raw")));
    ASSERT_EQ(raster.size(), picture.pixels.size());
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const auto p = picture.at(x, y);
            const float expected = testing_support::oracleNdvi(p.r, p.g, targets);
            ASSERT_EQ(std::bit_cast<std::uint32_t>(raster[static_cast<std::size_t>(y * picture.width + x)]),
                      std::bit_cast<std::uint32_t>(expected))
                << "x=" << x << " y=" << y;
        }
    }
}

TEST(Calibrate, TheWhiteValueIsTakenAsAsked)
{
    TempDir dir;
    Picture picture = panelFrame();
    const std::string frame = dir.path("frame.bmp").string();
    // One speck of light in the panel's 20 pixels: the maximum takes it, the mean and
    // the 99th percentile (all 20 at or below) do too only as far as their rules say.
    picture.pixels[static_cast<std::size_t>(2 * picture.width + 4)].r = 250;
    writeFile(frame, encodeBmp(picture));
    const struct {
        const char* from;
        const char* line;
    } cases[] = {
        {"max", "NIR: 白色板 250 (反射率 1); Red: 白色板 223 (反射率 1)\n"},
        {"mean", "NIR: 白色板 232 (反射率 1); Red: 白色板 221 (反射率 1)\n"},
        {"p99", "NIR: 白色板 250 (反射率 1); Red: 白色板 223 (反射率 1)\n"},
    };
    for (const auto& c : cases) {
        const std::string cal = dir.path(std::string(c.from) + ".json").string();
        const BatchResult result = runBatch({"calibrate", frame, "--white-rect", "2,1,6,4", "--white-from", c.from, "-o", cal});
        EXPECT_EQ(result.status, batch::kAllSucceeded) << result.err;
        EXPECT_EQ(result.out, c.line) << c.from;
        EXPECT_EQ(engine::whiteFromName(engine::readCalibrationFile(cal).source.whiteFrom), std::string(c.from));
    }
}

TEST(Calibrate, PanelChecksGoToStandardErrorAndFailTheRunOnlyWithStrict)
{
    const auto panelOf = [](const std::function<testing_support::Pixel(int, int)>& pixel) {
        Picture p{6, 5, {}};
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 6; ++x) p.pixels.push_back(pixel(x, y));
        }
        return p;
    };
    const struct {
        const char* name;
        Picture picture;
        std::vector<std::string> warnings;  // each line's start after "FRAME: "
    } cases[] = {
        {"good", panelOf([](int x, int) { return testing_support::Pixel{9, static_cast<std::uint8_t>(180 + x % 2), 200}; }), {}},
        {"saturated", panelOf([](int x, int y) { return testing_support::Pixel{9, 180, static_cast<std::uint8_t>(x == 3 && y == 2 ? 255 : 250)}; }),
         {"白色板の範囲に 255 で飽和した画素があります（NIR 1 画素、Red 0 画素）"}},
        {"uneven", panelOf([](int x, int) { return testing_support::Pixel{9, 180, static_cast<std::uint8_t>(x < 3 ? 150 : 200)}; }),
         {"白色板の範囲の明るさが一様ではありません（変動係数 NIR 14.3 %、Red 0.0 %、上限 3 %）"}},
        {"dim", panelOf([](int, int) { return testing_support::Pixel{9, 80, 200}; }), {"白色板の値が 100 未満です（NIR 200、Red 80）"}},
    };
    for (const auto& c : cases) {
        for (const bool strict : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (strict ? " --strict" : ""));
            TempDir dir;
            const std::string frame = dir.path("frame.bmp").string();
            writeFile(frame, encodeBmp(c.picture));
            std::vector<std::string> args{"calibrate", frame, "--white-rect", "0,0,5,4", "-o", dir.path("cal.json").string()};
            if (strict) args.push_back("--strict");
            const BatchResult result = runBatch(args);

            const bool refused = strict && !c.warnings.empty();
            EXPECT_EQ(result.status, refused ? batch::kSomeFailed : batch::kAllSucceeded);
            EXPECT_EQ(fs::exists(dir.path("cal.json")), !refused);
            EXPECT_EQ(result.out.empty(), refused) << result.out;
            std::vector<std::string> lines;
            std::istringstream err(result.err);
            for (std::string line; std::getline(err, line);) lines.push_back(line);
            ASSERT_EQ(lines.size(), c.warnings.size() + (refused ? 1 : 0)) << result.err;
            for (std::size_t i = 0; i < c.warnings.size(); ++i) {
                EXPECT_TRUE(lines[i].starts_with(frame + ": " + c.warnings[i])) << lines[i];
            }
            if (refused) {
                EXPECT_EQ(lines.back(), frame + ": --strict のため較正ファイルを書きませんでした");
            }
        }
    }
}

TEST(Calibrate, TheDarkTargetIsCheckedTooAndItsValueKeepsItsFraction)
{
    // 6 x 5: an even white panel in columns 0..3 and the dark rectangle in 4..5.
    const auto frameOf = [](const std::function<testing_support::Pixel(int, int)>& dark) {
        Picture p{6, 5, {}};
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 6; ++x) p.pixels.push_back(x < 4 ? testing_support::Pixel{9, 180, 200} : dark(x, y));
        }
        return p;
    };
    const struct {
        const char* name;
        Picture picture;
        std::vector<std::string> warnings;  // each line's start after "FRAME: "
    } cases[] = {
        // NIR 12 and 13 in turn (mean 12.5), red 10.
        {"target", frameOf([](int x, int y) { return testing_support::Pixel{9, 10, static_cast<std::uint8_t>(12 + (x + y) % 2)}; }), {}},
        {"soil", frameOf([](int x, int y) { return testing_support::Pixel{9, 40, static_cast<std::uint8_t>((x + y) % 2 ? 40 : 90)}; }),
         {"暗色板の範囲の明るさが一様ではありません（NIR 平均 65.0、標準偏差 25.0、Red 平均 40.0、標準偏差 0.0）"}},
        {"bright", frameOf([](int, int) { return testing_support::Pixel{9, 10, 101}; }),
         {"暗色板の値が白色板の値の半分を超えています（NIR 暗色板 101.0、白色板 200.0、Red 暗色板 10.0、白色板 180.0）"}},
        {"glare", frameOf([](int x, int y) { return testing_support::Pixel{9, static_cast<std::uint8_t>(x == 5 && y == 4 ? 255 : 10), 12}; }),
         {"暗色板の範囲に 255 で飽和した画素があります（NIR 0 画素、Red 1 画素）",
          "暗色板の範囲の明るさが一様ではありません（NIR 平均 12.0、標準偏差 0.0、Red 平均 34.5、標準偏差 73.5）"}},
    };
    for (const auto& c : cases) {
        for (const bool strict : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (strict ? " --strict" : ""));
            TempDir dir;
            const std::string frame = dir.path("frame.bmp").string();
            writeFile(frame, encodeBmp(c.picture));
            const std::string cal = dir.path("cal.json").string();
            std::vector<std::string> args{"calibrate", frame, "--white-rect", "0,0,3,4", "--dark-rect", "4,0,5,4", "-o", cal};
            if (strict) args.push_back("--strict");
            const BatchResult result = runBatch(args);

            const bool refused = strict && !c.warnings.empty();
            EXPECT_EQ(result.status, refused ? batch::kSomeFailed : batch::kAllSucceeded);
            EXPECT_EQ(fs::exists(cal), !refused);
            std::vector<std::string> lines;
            std::istringstream err(result.err);
            for (std::string line; std::getline(err, line);) lines.push_back(line);
            ASSERT_EQ(lines.size(), c.warnings.size() + (refused ? 1 : 0)) << result.err;
            for (std::size_t i = 0; i < c.warnings.size(); ++i) {
                EXPECT_TRUE(lines[i].starts_with(frame + ": " + c.warnings[i])) << lines[i];
            }
            if (refused) {
                EXPECT_EQ(lines.back(), frame + ": --strict のため較正ファイルを書きませんでした");
            }
        }
    }

    // The dark value as the mean is, in the printed model and in the file, which gives
    // it back as the same float.
    TempDir dir;
    const std::string frame = dir.path("frame.bmp").string();
    writeFile(frame, encodeBmp(cases[0].picture));
    const std::string cal = dir.path("cal.json").string();
    const BatchResult result = runBatch({"calibrate", frame, "--white-rect", "0,0,3,4", "--dark-rect", "4,0,5,4", "-o", cal});
    ASSERT_EQ(result.status, batch::kAllSucceeded) << result.err;
    EXPECT_EQ(result.out, "NIR: 白色板 200 (反射率 1), 暗色板 12.5 (反射率 0); Red: 白色板 180 (反射率 1), 暗色板 10 (反射率 0)\n");
    const std::vector<std::uint8_t> text = readFile(cal);
    EXPECT_NE(std::string(text.begin(), text.end()).find("\"dark\":12.5,"), std::string::npos);
    EXPECT_EQ(engine::readCalibrationFile(cal).model.nir.dnDark, 12.5f);
}

TEST(Calibrate, AFrameThatCannotGiveACalibrationFailsWithStatus1AndWritesNothing)
{
    TempDir dir;
    const std::string frame = dir.path("frame.bmp").string();
    const auto bytes = encodeBmp(panelFrame());
    writeFile(frame, bytes);
    const std::string eightBit = dir.path("eight.bmp").string();
    writeFile(eightBit, testing_support::bmpHeader(6, 5, 8));
    const std::string cal = dir.path("cal.json").string();
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"calibrate", frame, "--white-rect", "2,1,14,4", "-o", cal},
         frame + ": --white-rect 2,1,14,4 が画像（14×11）の外にはみ出しています\n"},
        {{"calibrate", frame, "--white-rect", "2,1,6,4", "--dark-rect", "0,11,1,11", "-o", cal},
         frame + ": --dark-rect 0,11,1,11 が画像（14×11）の外にはみ出しています\n"},
        // A "dark target" brighter than the panel gives no line.
        {{"calibrate", frame, "--white-rect", "9,7,10,8", "--dark-rect", "2,1,6,4", "-o", cal},
         frame + ": NIR: 白色板の値 (11) は暗色板の値 (230.95) より大きくなければなりません\n"},
        {{"calibrate", frame, "--white-rect", "0,0,1,1", "-o", frame, "--force"},
         frame + ": 入力ファイルと同じファイルには保存できません\n"},
        {{"calibrate", dir.path("missing.bmp").string(), "--white-rect", "0,0,1,1", "-o", cal},
         dir.path("missing.bmp").string() + ": 入力ファイルを開けません（ファイルまたはフォルダーが見つかりません）: " + dir.path("missing.bmp").string() + "\n"},
        {{"calibrate", eightBit, "--white-rect", "0,0,1,1", "-o", cal},
         eightBit + ": 24ビットカラー画像以外には対応していません（8ビット）\n"},
    };
    for (const auto& c : cases) {
        const BatchResult result = runBatch(c.args);
        EXPECT_EQ(result.status, batch::kSomeFailed) << c.message;
        EXPECT_EQ(result.err, c.message);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(filesIn(dir.dir()), (std::vector<std::string>{"eight.bmp", "frame.bmp"}));
        EXPECT_EQ(readFile(frame), bytes);
    }
}

TEST(Calibrate, BadUsageEndsWithStatus2BeforeTouchingAnything)
{
    TempDir dir;
    const std::string frame = dir.path("frame.bmp").string();
    writeFile(frame, encodeBmp(panelFrame()));
    const std::string cal = dir.path("cal.json").string();
    engine::CalibrationRecord record;
    record.model = engine::NdviModel::plain(243, 238);
    engine::writeCalibrationFile(cal, record);
    const std::string notJson = dir.path("notes.txt").string();
    writeFile(notJson, {'n', 'o', '\n'});
    const std::string missing = dir.path("missing.json").string();
    const std::string out = dir.path("new.json").string();
    const std::vector<std::string> calibrate{"calibrate", frame, "--white-rect", "2,1,6,4"};
    const auto with = [](std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const std::vector<std::string> ndvi{"ndvi", frame, "-o", dir.path("a.raw").string(), "--calibration", cal};
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"calibrate", frame, "-o", out}, "--white-rect X1,Y1,X2,Y2 を指定してください"},
        {{"calibrate", "--white-rect", "2,1,6,4", "-o", out}, "入力ファイルを指定してください"},
        {with(calibrate, {}), "-o で較正ファイルを指定してください"},
        {with(calibrate, {"--out-dir", dir.dir().string()}), "--out-dir は calibrate では使えません"},
        {with(calibrate, {frame, "-o", out}), "calibrate の入力ファイルは一つだけです"},
        {{"calibrate", frame, "--white-rect", "2,1,6", "-o", out}, "--white-rect は X1,Y1,X2,Y2 の形で指定してください"},
        {{"calibrate", frame, "--white-rect", "6,1,2,4", "-o", out},
         "--white-rect には 0 以上で X1 <= X2、Y1 <= Y2 の座標を指定してください"},
        {with(calibrate, {"--dark-rect", "-1,0,2,2", "-o", out}),
         "--dark-rect には 0 以上で X1 <= X2、Y1 <= Y2 の座標を指定してください"},
        {with(calibrate, {"--white-from", "median", "-o", out}), "--white-from には max、mean、p99 のいずれかを指定してください"},
        {with(calibrate, {"--dark-reflectance", "0.03,0.02", "-o", out}), "--dark-reflectance は --dark-rect と一緒に指定してください"},
        {with(calibrate, {"--panel-reflectance", "1.2,0.9", "-o", out}), "NIR: 反射率は 0 から 1 の範囲で指定してください"},
        {with(calibrate, {"--dark-rect", "9,7,10,8", "--panel-reflectance", "0.9,0.5", "--dark-reflectance", "0.03,0.5", "-o", out}),
         "Red: 白色板の反射率は暗色板の反射率より大きくなければなりません"},
        {with(calibrate, {"--dark", "11,6", "-o", out}), "--dark は calibrate では使えません"},
        {with(calibrate, {"-j", "2", "-o", out}), "-j は calibrate では使えません"},
        {with(calibrate, {"-o", cal}), "出力ファイルが既にあります。上書きするには --force を指定してください:\n  " + cal},
        {with(ndvi, {"--nir-white", "243"}), "--calibration は --nir-white と同時に使えません（較正ファイルに値があります）"},
        {with(ndvi, {"--red-white", "238"}), "--calibration は --red-white と同時に使えません（較正ファイルに値があります）"},
        {with(ndvi, {"--panel-reflectance", "1,1"}), "--calibration は --panel-reflectance と同時に使えません（較正ファイルに値があります）"},
        {with(ndvi, {"--dark", "0,0"}), "--calibration は --dark と同時に使えません（較正ファイルに値があります）"},
        {with(ndvi, {"--dark-reflectance", "0,0"}), "--calibration は --dark-reflectance と同時に使えません（較正ファイルに値があります）"},
        {{"ndvi", frame, "-o", dir.path("a.raw").string(), "--calibration", notJson},
         "--calibration " + notJson + ": 較正ファイルが JSON として正しくありません（1 行目）"},
        {{"ndvi", frame, "-o", dir.path("a.raw").string(), "--calibration", missing},
         "--calibration " + missing + ": 較正ファイルを開けません"},
        {with(ndvi, {"--strict"}), "--strict は ndvi では使えません"},
    };
    for (const auto& c : cases) {
        const BatchResult result = runBatch(c.args);
        EXPECT_EQ(result.status, batch::kBadUsage) << c.message;
        EXPECT_TRUE(result.err.starts_with("zrvimage-batch: " + c.message + "\n")) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(filesIn(dir.dir()), (std::vector<std::string>{"cal.json", "frame.bmp", "notes.txt"})) << c.message;
    }
}

}  // namespace
