#include "bitmap/Crop2048.h"
#include "runtime/Exceptions.h"

#include "OperationRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

using testing_support::asymmetricPicture;
using testing_support::bmpHeader;
using testing_support::decodeBmp;
using testing_support::encodeBmp;
using testing_support::messageOfError;
using testing_support::OperationRun;
using testing_support::Picture;

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRowBytes = 6144;

void put32(Bytes& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The output header for a picture of this height, field by field.
Bytes headerFor(std::int32_t height)
{
    Bytes h(54, 0);
    h[0] = 'B';
    h[1] = 'M';
    put32(h, 2, static_cast<std::uint32_t>(6144 * std::int64_t{height} + 54));
    put32(h, 10, 54);
    put32(h, 14, 40);
    put32(h, 18, 2048);
    put32(h, 22, static_cast<std::uint32_t>(height));
    h[26] = 1;
    h[28] = 24;
    put32(h, 34, static_cast<std::uint32_t>(6144 * std::int64_t{height}));
    return h;
}

// The whole output for a picture: its columns 0..2047 of every row, bottom row first,
// black where the picture is narrower.
Bytes expectedCrop(const Picture& p)
{
    Bytes out = headerFor(p.height);
    for (int y = p.height - 1; y >= 0; --y) {
        Bytes row(kRowBytes, 0);
        for (int x = 0; x < std::min(p.width, 2048); ++x) {
            const auto px = p.at(x, y);
            row[3 * x] = px.b;
            row[3 * x + 1] = px.g;
            row[3 * x + 2] = px.r;
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

Bytes cut(Bytes bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

TEST(Crop2048, WritesTheFullHeaderForAWidePicture)
{
    OperationRun run(encodeBmp(asymmetricPicture(3000, 20)));

    bitmap::cropTo2048(run.fake);

    const Bytes expectedHeader = {
        0x42, 0x4D, 0x36, 0xE0, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00,  // file header
        0x28, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x01, 0x00,
        0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Bytes out = run.outputBytes();
    ASSERT_EQ(out.size(), 54u + 20 * 6144);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 54), expectedHeader);
    EXPECT_EQ(headerFor(20), expectedHeader);
    EXPECT_EQ(out, expectedCrop(asymmetricPicture(3000, 20)));
}

TEST(Crop2048, ShowsItsDialogsStepsOncePerRowAndReplacesAnOldOutput)
{
    OperationRun run(encodeBmp(asymmetricPicture()));
    testing_support::writeFile(run.output, Bytes(100'000, 0xEE));

    bitmap::cropTo2048(run.fake);

    ASSERT_EQ(run.fake.dialogRequests.size(), 2u);
    const auto& open = run.fake.dialogRequests[0];
    const auto& save = run.fake.dialogRequests[1];
    EXPECT_EQ(open.title, "切り出し対象カラ―画像ファイル");
    EXPECT_EQ(save.title, "保存先ファイル名を指定する");
    for (const auto& request : run.fake.dialogRequests) {
        EXPECT_EQ(request.filter, "BMPファイル (*.bmp) | *.bmp");
        EXPECT_EQ(request.defaultExt, ".bmp");
    }
    EXPECT_EQ(run.fake.dialogsShown, (std::vector<bitmap::FileDialog>{bitmap::FileDialog::Open, bitmap::FileDialog::Save}));

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

    bitmap::cropTo2048(run.fake);

    Bytes expected = headerFor(3);
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
    const Picture seen = decodeBmp(input);  // what the file holds, missing bytes as zero
    OperationRun run(input);

    bitmap::cropTo2048(run.fake);

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
    // Stored rows are read bottom first, so the cut rows come after whole ones.
    CropCase{"TruncatedMidRow", [] { return cut(encodeBmp(asymmetricPicture(6, 5)), 54 + 3 * 20 + 7); }},
    CropCase{"TruncatedWideRow", [] { return cut(encodeBmp(asymmetricPicture(3000, 4)), 54 + 9000 + 4000); }},
    CropCase{"HeaderOnly", [] { return bmpHeader(6, 3, 24); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Crop2048, NoRowsGiveTheHeaderAloneAndDone)
{
    OperationRun run(bmpHeader(6, 0, 24));

    bitmap::cropTo2048(run.fake);

    const Bytes expected = {0x42, 0x4D, 0x36, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00,
                            0x28, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
                            0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(run.outputBytes(), expected);
    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    EXPECT_EQ(run.fake.progress.max(), 0);
    EXPECT_EQ(run.fake.progress.stepCount(), 0);
}

TEST(Crop2048, TopDownPictureStopsWithTheRangeErrorAfterWritingTheHeader)
{
    auto input = encodeBmp(asymmetricPicture(6, 3));
    put32(input, 22, static_cast<std::uint32_t>(-3));
    OperationRun run(input);

    EXPECT_EQ(messageOfError<runtime::EInvalidOperation>([&] { bitmap::cropTo2048(run.fake); }),
              "プロパティ TProgressBar の範囲を超えています");

    const Bytes out = run.outputBytes();
    EXPECT_EQ(out, headerFor(-3));
    ASSERT_EQ(out.size(), 54u);
    EXPECT_EQ(Bytes(out.begin() + 2, out.begin() + 6), (Bytes{0x36, 0xB8, 0xFF, 0xFF}));   // 6144 * -3 + 54
    EXPECT_EQ(Bytes(out.begin() + 22, out.begin() + 26), (Bytes{0xFD, 0xFF, 0xFF, 0xFF}));  // -3
    EXPECT_EQ(run.fake.messages, std::vector<std::string>{});
    EXPECT_EQ(run.fake.pumps, 0);
}

}  // namespace
