// The batch's outputs are the window's outputs, byte for byte, for the same inputs.

#include "BatchRun.h"

#include "window/Crop2048.h"
#include "window/NdviRaster.h"

#include <gtest/gtest.h>

namespace {

using namespace batch_testing;
using testing_support::asymmetricPicture;
using testing_support::encodeBmp;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

// Pictures that show row-order, padding, width and empty-picture faults, and the
// layouts other programs write (top-down rows, 108- and 124-byte info headers, a gap
// before the pixels, an unpadded last row); written as frame01.bmp, frame02.bmp, ...
// in dir.
std::vector<std::filesystem::path> writeFrames(const TempDir& dir)
{
    using testing_support::BmpLayout;
    const struct {
        testing_support::Picture picture;
        BmpLayout layout;
    } frames[] = {
        {asymmetricPicture(6, 5), {}},
        {asymmetricPicture(1, 1), {}},
        {asymmetricPicture(2049, 3), {}},
        {asymmetricPicture(7, 0), {}},
        {asymmetricPicture(13, 9), {}},
        {asymmetricPicture(5, 4), {.topDown = true}},
        {asymmetricPicture(7, 3), {.infoSize = 124, .gap = 6}},
        {asymmetricPicture(2050, 3), {.infoSize = 108, .topDown = true}},
        {asymmetricPicture(9, 4), {.infoSize = 124, .topDown = true, .lastRowUnpadded = true}},
    };
    std::vector<std::filesystem::path> paths;
    for (const auto& frame : frames) {
        paths.push_back(dir.path("frame0" + std::to_string(paths.size() + 1) + ".bmp"));
        writeFile(paths.back(), encodeBmp(frame.picture, frame.layout));
    }
    return paths;
}

struct FileCommand {
    const char* name;
    std::vector<std::string> options;  // besides inputs and --out-dir
    const char* extension;
    std::function<void(window::Services&)> operation;
    std::map<window::Field, std::string> fields;  // the same values, as window fields
};

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
            EXPECT_EQ(readFile(output), windowOutput(c.operation, input, c.fields)) << output << " with -j " << jobs;
        }
    }
}

using window::Field;

INSTANTIATE_TEST_SUITE_P(
    Commands, SameAsWindow,
    ::testing::Values(FileCommand{"crop", {}, ".bmp", window::cropTo2048, {}},
                      FileCommand{"ndvi", {"--nir-white", "255", "--red-white", "255"}, ".raw", window::makeNdviRaster,
                                  {{Field::Edit5, "255"}, {Field::Edit6, "255"}}},
                      // Numbers read as the window reads its fields: hexadecimal, a
                      // leading space, a white value below the pixels' that caps them,
                      // and one past the fields' 255.
                      FileCommand{"ndvi", {"--nir-white", " $C8", "--red-white", "90"}, ".raw", window::makeNdviRaster,
                                  {{Field::Edit5, "200"}, {Field::Edit6, "90"}}},
                      FileCommand{"ndvi", {"--nir-white=0x12C", "--red-white", "0x60"}, ".raw", window::makeNdviRaster,
                                  {{Field::Edit5, "300"}, {Field::Edit6, "96"}}}));

TEST(SameAsWindow, SingleOutputNamedWithDashO)
{
    TempDir dir;
    const auto input = dir.path("in.bmp");
    writeFile(input, encodeBmp(asymmetricPicture()));
    const auto output = dir.path("chosen.name");

    const BatchResult crop = runBatch({"crop", input.string(), "-o", output.string()});
    ASSERT_EQ(crop.status, batch::kAllSucceeded) << crop.err;
    EXPECT_EQ(readFile(output), windowOutput(window::cropTo2048, input));

    const BatchResult ndvi =
        runBatch({"ndvi", input.string(), "-o" + output.string(), "--force", "--nir-white", "255", "--red-white", "200"});
    ASSERT_EQ(ndvi.status, batch::kAllSucceeded) << ndvi.err;
    EXPECT_EQ(readFile(output), windowOutput(window::makeNdviRaster, input, {{Field::Edit6, "200"}}));
}

TEST(SameAsWindow, MaximaLinesHoldTheWindowsLabelsInInputOrder)
{
    TempDir dir;
    const auto inputs = writeFrames(dir);
    const struct {
        const char* rect;
        std::vector<std::string> fields;
    } rects[] = {
        {"0,0,0,0", {"0", "0", "0", "0"}},
        {"1,1,4,3", {"1", "1", "4", "3"}},
        {"-5,-5,-1,-1", {"-5", "-5", "-1", "-1"}},  // widened to the whole picture
        {"150,0,300,2", {"150", "0", "300", "2"}},  // right of the picture: nothing
        {" 1,$2,x3,0X4", {" 1", "$2", "x3", "0X4"}},  // the fields' number rules
    };
    for (const auto& r : rects) {
        std::vector<std::string> args{"maxima", "--rect", r.rect, "-j", "4"};
        for (const auto& input : inputs) args.push_back(input.string());
        const BatchResult result = runBatch(args);
        ASSERT_EQ(result.status, batch::kAllSucceeded) << result.err;
        std::string expected;
        for (const auto& input : inputs) expected += lineOf(input.string(), windowMaxima(input, r.fields));
        EXPECT_EQ(result.out, expected) << r.rect;
    }
}

}  // namespace
