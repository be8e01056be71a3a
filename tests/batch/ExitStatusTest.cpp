// Exit statuses, messages and the summary: bad usage stops before any work, a file
// the window would end the program on fails alone, existing outputs need --force.

#include "BatchRun.h"
#include "Program.h"

#include "window/Crop2048.h"
#include "window/NdviRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

using namespace batch_testing;
using testing_support::asymmetricPicture;
using testing_support::bmpHeader;
using testing_support::encodeBmp;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = std::filesystem;

TEST(BadUsage, EndsWithStatus2AndSaysWhyBeforeTouchingAnything)
{
    const struct {
        std::vector<std::string> args;  // "IN" stands for an existing picture
        const char* message;
    } cases[] = {
        {{}, "サブコマンドを指定してください"},
        {{"resize", "IN"}, "不明なサブコマンドです: resize"},
        {{"crop", "IN", "--bogus"}, "不明なオプションです: --bogus"},
        {{"crop", "--out-dir", "out"}, "入力ファイルを指定してください"},
        {{"crop", "IN"}, "-o か --out-dir のどちらか一つを指定してください"},
        {{"crop", "IN", "-o", "a.bmp", "--out-dir", "out"}, "-o か --out-dir のどちらか一つを指定してください"},
        {{"crop", "IN", "IN2", "-o", "a.bmp"}, "-o は入力ファイルが一つのときだけ使えます"},
        {{"crop", "IN", "--out-dir", "out", "--rect", "0,0,1,1"}, "--rect は crop では使えません"},
        {{"crop", "IN", "--out-dir", "out", "--force", "--force"}, "--force が二度指定されています"},
        {{"crop", "IN", "--out-dir"}, "--out-dir には値が必要です"},
        {{"maxima", "IN"}, "--rect X1,Y1,X2,Y2 を指定してください"},
        {{"maxima", "IN", "--rect", "1,2,3"}, "--rect は X1,Y1,X2,Y2 の形で指定してください"},
        // Numbers follow the window's rules and messages, with the error box's full stop.
        {{"maxima", "IN", "--rect", "1,2,3,4 "}, "'4 ' は整数ではありません."},
        {{"maxima", "IN", "--rect", "\t1,2,3,4"}, "'\t1' は整数ではありません."},
        {{"maxima", "IN", "--rect", "1,2,,4"}, "'' は整数ではありません."},
        {{"ndvi", "IN", "-o", "a.raw", "--nir-white", "abc", "--red-white", "255"}, "'abc' は整数ではありません."},
        {{"ndvi", "IN", "-o", "a.raw", "--nir-white", "255", "--red-white", "2147483648"},
         "'2147483648' は整数ではありません."},
        {{"ndvi", "IN", "-o", "a.raw", "--nir-white", "255"}, "--nir-white と --red-white を指定してください"},
        {{"ndvi", "IN", "IN2", "--out-dir", "out", "--nir-white", "1", "--red-white", "1", "--preview", "p.png"},
         "--preview は入力ファイルが一つのときだけ使えます"},
        // A white value below 1 gives no raster: refused before any file is touched.
        {{"ndvi", "IN", "-o", "a.raw", "--nir-white", "255", "--red-white", "0"}, "--red-white には 1 以上の整数を指定してください"},
        {{"ndvi", "IN", "-o", "a.raw", "--nir-white=-120", "--red-white", "0x60"}, "--nir-white には 1 以上の整数を指定してください"},
        {{"ndvi", "IN", "-o", "a.raw", "--nir-white", "$FFFFFFFF", "--red-white", "9"}, "--nir-white には 1 以上の整数を指定してください"},
        {{"crop", "IN", "--out-dir", "out", "-j", "0"}, "-j には 1 以上の整数を指定してください"},
        {{"crop", "IN", "--out-dir", "out", "-j", "1.5"}, "'1.5' は整数ではありません."},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto in = dir.path("in.bmp");
        const auto in2 = dir.path("in2.bmp");
        writeFile(in, encodeBmp(asymmetricPicture()));
        writeFile(in2, encodeBmp(asymmetricPicture()));
        std::vector<std::string> args;
        for (const auto& a : c.args) {
            const bool relative = a == "out" || a.ends_with(".bmp") || a.ends_with(".raw") || a.ends_with(".png");
            args.push_back(a == "IN" ? in.string() : a == "IN2" ? in2.string() : relative ? dir.path(a).string() : a);
        }
        const BatchResult result = runBatch(args);
        EXPECT_EQ(result.status, batch::kBadUsage) << c.message;
        EXPECT_EQ(result.err.rfind(std::string("zrvimage-batch: ") + c.message, 0), 0u) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(filesIn(dir.dir()), (std::vector<std::string>{"in.bmp", "in2.bmp"})) << c.message;
    }
}

TEST(Help, IsJapaneseWithEnglishOptionNamesWhereverItIsAsked)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"ndvi", "in.bmp", "-h"}, {"crop", "--bogus", "--help"}}) {
        const BatchResult result = runBatch(args);
        EXPECT_EQ(result.status, batch::kAllSucceeded);
        EXPECT_EQ(result.out.rfind("使い方:\n", 0), 0u);
        for (const char* name : {"crop", "maxima", "ndvi", "-o FILE", "--out-dir DIR", "--rect X1,Y1,X2,Y2", "--nir-white N",
                                 "--red-white N", "--envi-header", "--preview PNG", "--preview-dir DIR", "--stats",
                                 "--json", "--force", "-j N", "--panel-reflectance NIR,RED", "--dark NIR,RED",
                                 "--dark-reflectance NIR,RED", "--tiff", "白色板 NIR (Max:255)", "NDVI画像（Float-RAW）作成",
                                 "64", "\\ufffd", "一時ファイル", "calibrate FRAME.bmp --white-rect X1,Y1,X2,Y2",
                                 "--white-from max|mean|p99", "--dark-rect X1,Y1,X2,Y2", "--strict",
                                 "--calibration CAL.json", "較正ファイル", "series FRAME.bmp...", "--regions REGIONS.json",
                                 "--csv OUT.csv", "--time mtime|name:PATTERN"}) {
            EXPECT_NE(result.out.find(name), std::string::npos) << name;
        }
        EXPECT_EQ(result.err, "");
    }
}

// A folder with one good picture and five the operations refuse.
struct MixedFolder {
    TempDir dir;
    fs::path good = dir.path("good.bmp");
    fs::path eightBit = dir.path("eight.bmp");
    fs::path missing = dir.path("missing.bmp");
    fs::path depth32 = dir.path("depth32.bmp");
    fs::path truncated = dir.path("truncated.bmp");
    fs::path text = dir.path("text.bmp");  // no bitmap at all
    fs::path out = dir.path("out");

    MixedFolder()
    {
        const auto picture = encodeBmp(asymmetricPicture());
        writeFile(good, picture);
        writeFile(eightBit, bmpHeader(6, 5, 8));
        writeFile(depth32, encodeBmp(asymmetricPicture(), 32));
        writeFile(truncated, testing_support::cut(picture, picture.size() - 24));  // cut short
        const std::string words = "This file holds words, not pixels, whatever its name says about it.\n";
        writeFile(text, std::vector<std::uint8_t>(words.begin(), words.end()));
    }
    std::vector<std::string> inputs() const
    {
        return {eightBit.string(), good.string(), missing.string(), depth32.string(), truncated.string(), text.string()};
    }
};

TEST(FailedFiles, FailAloneWithTheWindowsOrTheEnginesMessageAndAreNamedInTheSummary)
{
    const struct {
        std::vector<std::string> args;
        const char* eightBitMessage;  // each operation has its own
        const char* goodOutput;       // in the out folder; none for the maxima
    } commands[] = {
        {{"crop"}, "24ビットカラ―画像を指定してください", "good.bmp"},
        {{"maxima", "--rect", "0,0,9,9"}, "24ビットカラー画像を指定してください", nullptr},
        {{"ndvi", "--nir-white", "255", "--red-white", "255"}, "24ビットフォルスカラ―画像を指定してください", "good.raw"},
    };
    for (const auto& c : commands) {
        MixedFolder folder;
        auto args = c.args;
        for (const auto& input : folder.inputs()) args.push_back(input);
        if (c.goodOutput) args.insert(args.end(), {"--out-dir", folder.out.string()});
        args.insert(args.end(), {"-j", "2"});

        const BatchResult result = runBatch(args);
        EXPECT_EQ(result.status, batch::kSomeFailed);
        const std::string e = folder.eightBit.string();
        const std::string m = folder.missing.string();
        const std::string d = folder.depth32.string();
        const std::string t = folder.truncated.string();
        const std::string x = folder.text.string();
        for (const std::string& line : {e + ": " + c.eightBitMessage, m + ": 入力ファイルを開けません（ファイルまたはフォルダーが見つかりません）: " + m,
                                        d + ": 24ビットカラー画像以外には対応していません（32ビット）",
                                        t + ": 画像ファイルが途中で切れています: " + t,
                                        x + ": BMPファイルではありません: " + x}) {
            EXPECT_NE(result.err.find(line + "\n"), std::string::npos) << line << "\n" << result.err;
        }
        const std::string summary = "zrvimage-batch: 失敗したファイル 5/6: " + e + " " + m + " " + d + " " + t + " " + x + "\n";
        EXPECT_TRUE(result.err.ends_with(summary)) << result.err;
        if (c.goodOutput) {
            EXPECT_EQ(filesIn(folder.out), std::vector<std::string>{c.goodOutput});
            EXPECT_EQ(result.out, "");
        } else {
            EXPECT_EQ(result.out, lineOf(folder.good.string(), windowMaxima(folder.good, {"0", "0", "9", "9"})));
        }
    }
}

// 2^31 rows, top-down, one column, the rows a hole in the file: more than the crop's
// header holds. The old output stays and nothing is left beside it.
TEST(FailedFiles, CropOfMoreRowsThanItsHeaderHoldsIsRefusedBeforeAnythingIsWritten)
{
    TempDir dir;
    const auto tall = dir.path("tall.bmp");
    writeFile(tall, bmpHeader(1, std::numeric_limits<std::int32_t>::min(), 24));
    fs::resize_file(tall, 54 + (std::uintmax_t{1} << 31) * 4);
    const std::vector<std::uint8_t> old(100, 0xEE);
    writeFile(dir.path("out.bmp"), old);

    const BatchResult result = runBatch({"crop", tall.string(), "-o", dir.path("out.bmp").string(), "--force"});

    EXPECT_EQ(result.status, batch::kSomeFailed);
    EXPECT_EQ(result.err.rfind(tall.string() + ": 画像の高さが大きすぎます\n", 0), 0u) << result.err;
    EXPECT_EQ(readFile(dir.path("out.bmp")), old);
    EXPECT_EQ(filesIn(dir.dir()), (std::vector<std::string>{"out.bmp", "tall.bmp"}));
}

TEST(FailedFiles, RectangleTheWindowRejectsFailsEveryFile)
{
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"maxima", "--rect", "0,3,5,2"}, "y値が違います"},
        {{"maxima", "--rect", "4,0,3,2"}, "x値が違います"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::vector<std::string> args = c.args;
        std::vector<std::string> inputs;
        for (const char* name : {"a.bmp", "b.bmp"}) {
            inputs.push_back(dir.path(name).string());
            writeFile(inputs.back(), encodeBmp(asymmetricPicture()));
            args.push_back(inputs.back());
        }
        args.insert(args.end(), {"-j", "1"});  // messages in input order
        const BatchResult result = runBatch(args);
        EXPECT_EQ(result.status, batch::kSomeFailed);
        EXPECT_EQ(result.err, inputs[0] + ": " + c.message + "\n" + inputs[1] + ": " + c.message + "\n"
                                  + "zrvimage-batch: 失敗したファイル 2/2: " + inputs[0] + " " + inputs[1] + "\n");
        EXPECT_EQ(result.out, "");
    }
}

TEST(ExistingOutputs, AreRefusedBeforeAnyWorkUnlessForced)
{
    const char* preexisting[] = {"b.raw", "a.hdr", "previews/b.png"};
    for (const char* name : preexisting) {
        TempDir dir;
        std::vector<std::string> args{"ndvi", "--nir-white", "255", "--red-white", "255", "--envi-header",
                                      "--out-dir", dir.path("out").string(), "--preview-dir",
                                      (dir.path("out") / "previews").string()};
        for (const char* input : {"a.bmp", "b.bmp"}) {
            args.push_back(dir.path(input).string());
            writeFile(args.back(), encodeBmp(asymmetricPicture()));
        }
        // Named as the batch names it: the folder as given, then the system's separator.
        const auto existing = (dir.path("out") / name).make_preferred();
        fs::create_directories(existing.parent_path());
        writeFile(existing, {'o', 'l', 'd'});

        const BatchResult refused = runBatch(args);
        EXPECT_EQ(refused.status, batch::kBadUsage) << name;
        EXPECT_NE(refused.err.find("--force"), std::string::npos);
        EXPECT_NE(refused.err.find("\n  " + existing.string() + "\n"), std::string::npos) << refused.err;
        EXPECT_EQ(readFile(existing), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(filesIn(dir.path("out")).size(), fs::path(name).has_parent_path() ? 2u : 1u) << "nothing else written";

        args.push_back("--force");
        const BatchResult forced = runBatch(args);
        EXPECT_EQ(forced.status, batch::kAllSucceeded) << forced.err;
        EXPECT_NE(readFile(existing), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(filesIn(dir.path("out")),
                  (std::vector<std::string>{"a.hdr", "a.raw", "b.hdr", "b.raw", "previews", "previews/a.png",
                                            "previews/b.png"}));
    }
}

TEST(ExistingOutputs, StayAsTheyWereWhenAWhiteValueIsBelowOneEvenWithForce)
{
    for (const char* white : {"0", "-1", "$FFFFFFFF"}) {
        TempDir dir;
        const auto in = dir.path("a.bmp");
        writeFile(in, encodeBmp(asymmetricPicture()));
        fs::create_directories(dir.path("out"));
        for (const char* name : {"out/a.raw", "out/a.hdr", "out/a.png"}) writeFile(dir.path(name), {'o', 'l', 'd'});

        const BatchResult result =
            runBatch({"ndvi", in.string(), "--nir-white", "255", "--red-white", white, "--out-dir", dir.path("out").string(),
                      "--envi-header", "--preview-dir", dir.path("out").string(), "--force"});
        EXPECT_EQ(result.status, batch::kBadUsage) << white;
        EXPECT_TRUE(result.err.starts_with("zrvimage-batch: --red-white には 1 以上の整数を指定してください\n")) << result.err;
        EXPECT_EQ(filesIn(dir.path("out")), (std::vector<std::string>{"a.hdr", "a.png", "a.raw"}));
        for (const char* name : {"out/a.raw", "out/a.hdr", "out/a.png"}) {
            EXPECT_EQ(readFile(dir.path(name)), (std::vector<std::uint8_t>{'o', 'l', 'd'})) << name << " with " << white;
        }
    }
}

TEST(ExistingOutputs, NeverTheInputOrTwiceTheSameNameEvenWithForce)
{
    TempDir dir;
    const auto a = dir.path("a.bmp");
    const auto picture = encodeBmp(asymmetricPicture());
    writeFile(a, picture);
    fs::create_directories(dir.path("sub"));
    writeFile(dir.path("sub/a.bmp"), picture);

    const BatchResult inPlace = runBatch({"crop", a.string(), "--out-dir", dir.dir().string(), "--force"});
    EXPECT_EQ(inPlace.status, batch::kBadUsage);
    EXPECT_NE(inPlace.err.find("入力ファイルと同じファイルには保存できません: " + a.string()), std::string::npos)
        << inPlace.err;
    EXPECT_EQ(readFile(a), picture);

    const BatchResult twice = runBatch({"crop", a.string(), dir.path("sub/a.bmp").string(), "--out-dir",
                                        dir.path("out").string(), "--force"});
    EXPECT_EQ(twice.status, batch::kBadUsage);
    EXPECT_NE(twice.err.find("出力ファイル名が重複しています: " + (dir.path("out") / "a.bmp").string()), std::string::npos)
        << twice.err;
    EXPECT_FALSE(fs::exists(dir.path("out")));
}

TEST(Workers, AreAsManyAsAskedButNeverMoreThanTheFilesOr64)
{
    const struct {
        int jobs;  // -j; 0 when not given
        std::size_t files;
        unsigned cores;
        std::size_t workers;
    } cases[] = {
        {0, 10, 8, 8},    {0, 3, 8, 3},     {0, 10, 0, 1},  // cores unknown
        {0, 500, 256, 64}, {5, 10, 2, 5},   {5, 2, 2, 2},
        {1000, 500, 2, 64}, {2147483647, 100000, 2, 64},    {3, 0, 2, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(batch::workerCount(c.jobs, c.files, c.cores), c.workers) << c.jobs << " " << c.files << " " << c.cores;
    }
    // The largest -j there is runs as well as any.
    TempDir dir;
    std::vector<std::string> args{"maxima", "--rect", "0,0,9,9", "-j", "2147483647"};
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
        args.push_back(dir.path(name).string());
        writeFile(args.back(), encodeBmp(asymmetricPicture()));
    }
    const BatchResult result = runBatch(args);
    EXPECT_EQ(result.status, batch::kAllSucceeded) << result.err;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 3);
}

TEST(Program, ExitStatusReachesTheShell)
{
    TempDir dir;
    writeFile(dir.path("good.bmp"), encodeBmp(asymmetricPicture()));
    writeFile(dir.path("eight.bmp"), bmpHeader(6, 5, 8));
    const std::string d = dir.dir().string() + "/";
    const struct {
        std::string args;
        int status;
    } cases[] = {
        {"--help", 0},
        {"", 2},
        {"maxima " + d + "good.bmp --rect 0,0,1,1", 0},
        {"maxima " + d + "good.bmp " + d + "eight.bmp --rect 0,0,1,1", 1},
    };
    for (const auto& c : cases) {
        const std::string command = u8(batchProgram()) + " " + c.args + " >" + d + "stdout 2>" + d + "stderr";
        EXPECT_EQ(exitStatusOf(std::system(command.c_str())), c.status) << command;
    }
    // Not a terminal: messages and the summary only, no progress line.
    const auto err = readFile(d + "stderr");
    EXPECT_EQ(std::string(err.begin(), err.end()),
              d + "eight.bmp: 24ビットカラー画像を指定してください\nzrvimage-batch: 失敗したファイル 1/2: " + d + "eight.bmp\n");
}

}  // namespace
