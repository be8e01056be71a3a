#include "window/Crop2048.h"
#include "runtime/Exceptions.h"

#include "ExpectedOutput.h"
#include "OperationRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using testing_support::asymmetricPicture;
using testing_support::bmpHeader;
using testing_support::BmpLayout;
using testing_support::decodeBmp;
using testing_support::encodeBmp;
using testing_support::messageOfError;
using testing_support::OperationRun;
using testing_support::Picture;
using testing_support::expectedCrop;
using testing_support::expectedCropHeader;

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRowBytes = 6144;

TEST(Crop2048, WritesTheFullHeaderForAWidePicture)
{
    OperationRun run(encodeBmp(asymmetricPicture(3000, 20)));

    window::cropTo2048(run.fake);

    const Bytes expectedHeader = {
        0x42, 0x4D, 0x36, 0xE0, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00,  // file header
        0x28, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x01, 0x00,
        0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Bytes out = run.outputBytes();
    ASSERT_EQ(out.size(), 54u + 20 * 6144);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 54), expectedHeader);
    EXPECT_EQ(out, expectedCrop(asymmetricPicture(3000, 20)));
}

TEST(Crop2048, ShowsItsDialogsStepsOncePerRowAndReplacesAnOldOutput)
{
    OperationRun run(encodeBmp(asymmetricPicture()));
    testing_support::writeFile(run.output, Bytes(100'000, 0xEE));

    window::cropTo2048(run.fake);

    ASSERT_EQ(run.fake.dialogRequests.size(), 2u);
    const auto& open = run.fake.dialogRequests[0];
    const auto& save = run.fake.dialogRequests[1];
    EXPECT_EQ(open.title, "切り出し対象カラ―画像ファイル");
    EXPECT_EQ(save.title, "保存先ファイル名を指定する");
    for (const auto& request : run.fake.dialogRequests) {
        EXPECT_EQ(request.filter, "BMPファイル (*.bmp) | *.bmp");
        EXPECT_EQ(request.defaultExt, ".bmp");
    }
    EXPECT_EQ(run.fake.dialogsShown, (std::vector<window::FileDialog>{window::FileDialog::Open, window::FileDialog::Save}));

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    EXPECT_EQ(run.fake.positionAtMessage, std::vector<int>{5});
    EXPECT_EQ(run.fake.progress.max(), 5);
    EXPECT_EQ(run.fake.progress.stepCount(), 5);
    EXPECT_EQ(run.fake.progress.position(), 0);
    EXPECT_EQ(run.fake.pumps, 5);
    EXPECT_EQ(run.outputBytes(), expectedCrop(asymmetricPicture()));
}

TEST(Crop2048, ExactlyTwoThousandFortyEightColumnsAreCopiedByteForByte)
{
    const Bytes input = encodeBmp(asymmetricPicture(2048, 3));
    OperationRun run(input);

    window::cropTo2048(run.fake);

    Bytes expected = expectedCropHeader(3);
    expected.insert(expected.end(), input.begin() + 54, input.end());
    EXPECT_EQ(run.outputBytes(), expected);
}

struct CropCase {
    const char* name;
    std::function<Bytes()> input;
};

void PrintTo(const CropCase& c, std::ostream* os) { *os << c.name; }

class CropRows : public ::testing::TestWithParam<CropCase> {};

TEST_P(CropRows, KeepTheLeftmostColumnsAndBlackBeyondThePicture)
{
    const Bytes input = GetParam().input();
    const Picture seen = decodeBmp(input);
    OperationRun run(input);

    window::cropTo2048(run.fake);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    EXPECT_EQ(run.fake.progress.stepCount(), seen.height);
    EXPECT_EQ(run.fake.pumps, seen.height);
    const Bytes out = run.outputBytes();
    const Bytes expected = expectedCrop(seen);
    ASSERT_EQ(out.size(), expected.size());
    const auto mismatch = std::mismatch(out.begin(), out.end(), expected.begin());
    EXPECT_TRUE(mismatch.first == out.end()) << "first difference at byte " << (mismatch.first - out.begin());
}

INSTANTIATE_TEST_SUITE_P(Cases, CropRows, ::testing::Values(
    CropCase{"Narrow6x5", [] { return encodeBmp(asymmetricPicture(6, 5)); }},
    CropCase{"NarrowPaddedBy3", [] { return encodeBmp(asymmetricPicture(7, 3)); }},
    CropCase{"OneColumnTooMany", [] { return encodeBmp(asymmetricPicture(2049, 3)); }},
    CropCase{"WiderThanFortyThousand", [] { return encodeBmp(asymmetricPicture(40001, 2)); }},
    // Other writers' layouts: a bottom-up 2048-wide file with a positive height
    // whatever the input's row order.
    CropCase{"V5HeaderAndGap", [] { return encodeBmp(asymmetricPicture(7, 3), BmpLayout{24, 124, 6}); }},
    CropCase{"TopDownNarrow", [] { return encodeBmp(asymmetricPicture(7, 5), BmpLayout{24, 40, 0, true}); }},
    CropCase{"TopDownExactly2048", [] { return encodeBmp(asymmetricPicture(2048, 3), BmpLayout{24, 108, 0, true}); }},
    CropCase{"TopDownWide", [] { return encodeBmp(asymmetricPicture(3001, 4), BmpLayout{24, 124, 0, true}); }},
    CropCase{"WideLastRowUnpadded", [] { return encodeBmp(asymmetricPicture(3001, 2), BmpLayout{24, 40, 0, false, true}); }},
    // Rows of 2048 pixels go straight into the output, in blocks of many rows.
    CropCase{"ManyBlocksOf2048", [] { return encodeBmp(asymmetricPicture(2048, 400)); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Crop2048, NoRowsGiveTheHeaderAloneAndDone)
{
    OperationRun run(bmpHeader(6, 0, 24));

    window::cropTo2048(run.fake);

    const Bytes expected = {0x42, 0x4D, 0x36, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00,
                            0x28, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
                            0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(run.outputBytes(), expected);
    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    EXPECT_EQ(run.fake.progress.max(), 0);
    EXPECT_EQ(run.fake.progress.stepCount(), 0);
}

// A top-down picture of 2^31 rows, one column each, the rows a hole in the file: more
// rows than the crop's header holds. An old output of the chosen name stays as it was.
TEST(Crop2048, MoreRowsThanTheHeaderHoldsAreRefusedBeforeTheOutputIsCreated)
{
    OperationRun run(bmpHeader(1, std::numeric_limits<std::int32_t>::min(), 24));
    std::filesystem::resize_file(run.input, 54 + (std::uintmax_t{1} << 31) * 4);
    const Bytes old(100, 0xEE);
    testing_support::writeFile(run.output, old);

    window::cropTo2048(run.fake);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"画像の高さが大きすぎます"});
    EXPECT_EQ(run.outputBytes(), old);
    EXPECT_EQ(run.fake.pumps, 0);
    EXPECT_TRUE(testing_support::progressUntouched(run.fake.progress));
}

}  // namespace
