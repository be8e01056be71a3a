// The batch's outputs are the window's outputs, byte for byte, for the same inputs,
// and both are what the pictures' pixels give by the tests' own reckoning.

#include "BatchRun.h"

#include "window/Crop2048.h"
#include "window/NdviRaster.h"

#include "ExpectedOutput.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace batch_testing;
using testing_support::asymmetricPicture;
using testing_support::decodeBmp;
using testing_support::encodeBmp;
using testing_support::Picture;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
using testing_support::writeFrames;

struct FileCommand {
    const char* name;
    std::vector<std::string> options;  // besides inputs and --out-dir
    const char* extension;
    std::function<void(window::Services&)> operation;
    std::map<window::Field, std::string> fields;  // the same values, as window fields
    std::function<std::vector<std::uint8_t>(const Picture&)> expected;
};

std::function<std::vector<std::uint8_t>(const Picture&)> ndviWith(float nirWhite, float redWhite)
{
    return [=](const Picture& p) { return testing_support::expectedNdvi(p, nirWhite, redWhite); };
}

void PrintTo(const FileCommand& c, std::ostream* os) { *os << c.name; }

class SameAsWindow : public ::testing::TestWithParam<FileCommand> {};

TEST_P(SameAsWindow, EveryOutputMatchesTheWindowsOwnRunOfTheOperation)
{
    const FileCommand& c = GetParam();
    TempDir dir;
    const auto inputs = writeFrames(dir);
    const auto outDir = dir.path("out");

    for (const char* jobs : {"1", "3"}) {
        std::vector<std::string> args{c.name};
        for (const auto& input : inputs) args.push_back(input.string());
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"--out-dir", outDir.string(), "--force", "-j", jobs});

        const BatchResult result = runBatch(args);
        ASSERT_EQ(result.status, batch::kAllSucceeded) << result.err;
        EXPECT_EQ(result.err, "");
        for (const auto& input : inputs) {
            const auto output = outDir / input.stem().concat(c.extension);
            const auto bytes = readFile(output);
            EXPECT_EQ(bytes, c.expected(decodeBmp(readFile(input)))) << output << " with -j " << jobs;
            EXPECT_EQ(bytes, windowOutput(c.operation, input, c.fields)) << output << " with -j " << jobs;
        }
    }
}

using window::Field;

INSTANTIATE_TEST_SUITE_P(
    Commands, SameAsWindow,
    ::testing::Values(FileCommand{"crop", {}, ".bmp", window::cropTo2048, {}, testing_support::expectedCrop},
                      FileCommand{"ndvi", {"--nir-white", "255", "--red-white", "255"}, ".raw", window::makeNdviRaster,
                                  {{Field::Edit5, "255"}, {Field::Edit6, "255"}}, ndviWith(255, 255)},
                      // Numbers read as the window reads its fields: hexadecimal, a
                      // leading space, a white value below the pixels' that caps them,
                      // and one past the fields' 255.
                      FileCommand{"ndvi", {"--nir-white", " $C8", "--red-white", "90"}, ".raw", window::makeNdviRaster,
                                  {{Field::Edit5, "200"}, {Field::Edit6, "90"}}, ndviWith(200, 90)},
                      FileCommand{"ndvi", {"--nir-white=0x12C", "--red-white", "0x60"}, ".raw", window::makeNdviRaster,
                                  {{Field::Edit5, "300"}, {Field::Edit6, "96"}}, ndviWith(300, 96)}));

TEST(SameAsWindow, SingleOutputNamedWithDashO)
{
    TempDir dir;
    const auto input = dir.path("in.bmp");
    const Picture picture = asymmetricPicture();
    writeFile(input, encodeBmp(picture));
    const auto output = dir.path("chosen.name");

    const BatchResult crop = runBatch({"crop", input.string(), "-o", output.string()});
    ASSERT_EQ(crop.status, batch::kAllSucceeded) << crop.err;
    EXPECT_EQ(readFile(output), testing_support::expectedCrop(picture));
    EXPECT_EQ(readFile(output), windowOutput(window::cropTo2048, input));

    const BatchResult ndvi =
        runBatch({"ndvi", input.string(), "-o" + output.string(), "--force", "--nir-white", "255", "--red-white", "200"});
    ASSERT_EQ(ndvi.status, batch::kAllSucceeded) << ndvi.err;
    EXPECT_EQ(readFile(output), testing_support::expectedNdvi(picture, 255, 200));
    EXPECT_EQ(readFile(output), windowOutput(window::makeNdviRaster, input, {{Field::Edit6, "200"}}));
}

// The maxima over a typed rectangle fitted to the picture as documented: negative
// starts become 0, ends past the picture its last column or row, then an end left
// below its start widens to the last one (so a rectangle right of the picture covers
// nothing).
std::vector<std::string> expectedMaxima(const Picture& p, const int (&typed)[4])
{
    int x1 = std::max(typed[0], 0), y1 = std::max(typed[1], 0);
    int x2 = std::min(typed[2], p.width - 1), y2 = std::min(typed[3], p.height - 1);
    if (x1 > x2) x2 = p.width - 1;
    if (y1 > y2) y2 = p.height - 1;
    return testing_support::expectedMaxima(p, x1, y1, x2, y2);
}

TEST(SameAsWindow, MaximaLinesHoldTheWindowsLabelsInInputOrder)
{
    TempDir dir;
    const auto inputs = writeFrames(dir);
    const struct {
        const char* rect;
        std::vector<std::string> fields;
        int typed[4];
    } rects[] = {
        {"0,0,0,0", {"0", "0", "0", "0"}, {0, 0, 0, 0}},
        {"1,1,4,3", {"1", "1", "4", "3"}, {1, 1, 4, 3}},
        {"-5,-5,-1,-1", {"-5", "-5", "-1", "-1"}, {-5, -5, -1, -1}},  // widened to the whole picture
        {"150,0,300,2", {"150", "0", "300", "2"}, {150, 0, 300, 2}},  // right of the picture: nothing
        {" 1,$2,x3,0X4", {" 1", "$2", "x3", "0X4"}, {1, 2, 3, 4}},    // the fields' number rules
    };
    for (const auto& r : rects) {
        std::vector<std::string> args{"maxima", "--rect", r.rect, "-j", "4"};
        for (const auto& input : inputs) args.push_back(input.string());
        const BatchResult result = runBatch(args);
        ASSERT_EQ(result.status, batch::kAllSucceeded) << result.err;
        std::string expected;
        std::string window;
        for (const auto& input : inputs) {
            expected += lineOf(input.string(), expectedMaxima(decodeBmp(readFile(input)), r.typed));
            window += lineOf(input.string(), windowMaxima(input, r.fields));
        }
        EXPECT_EQ(result.out, expected) << r.rect;
        EXPECT_EQ(result.out, window) << r.rect;
    }
}

}  // namespace
