// The reader: header values, the checks that refuse what cannot be read right, and
// rows by their index from the top whatever the writer's layout.

#include "engine/formats/PictureReader.h"

#include "BmpFixture.h"
#include "MemorySource.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using engine::Failure;
using engine::RowStream;
using testing_support::asymmetricPicture;
using testing_support::BmpLayout;
using testing_support::bmpHeader;
using testing_support::cut;
using testing_support::encodeBmp;
using testing_support::Picture;
using testing_support::put32;
using testing_support::readerOf;

using Bytes = std::vector<std::uint8_t>;

struct StrideCase {
    std::int64_t width, stride;
};

void PrintTo(const StrideCase& c, std::ostream* os) { *os << "width " << c.width; }

class RowStride : public ::testing::TestWithParam<StrideCase> {};

TEST_P(RowStride, IsThreeBytesPerPixelRoundedUpToFour)
{
    EXPECT_EQ(engine::rowStride(GetParam().width), GetParam().stride) << "width " << GetParam().width;
}

INSTANTIATE_TEST_SUITE_P(Cases, RowStride, ::testing::Values(
    StrideCase{1, 4}, StrideCase{2, 8}, StrideCase{3, 12}, StrideCase{4, 12}, StrideCase{6, 20},
    StrideCase{2048, 6144}, StrideCase{2049, 6148}, StrideCase{0, 0},
    // the truncating remainder of a signed division
    StrideCase{-1, 4}, StrideCase{-2, 0}, StrideCase{-3, -4}));

struct ProbeCase {
    const char* name;
    Bytes file;
    std::int32_t width, height;
    std::uint16_t bitCount;
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

class Probe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(Probe, ReadsSignedSizesAndDepthWithMissingBytesAsZero)
{
    const auto& c = GetParam();
    const auto reader = readerOf(c.file);
    const auto& p = reader.header();
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    EXPECT_EQ(p.bitCount, c.bitCount);
    EXPECT_EQ(p.rowStride, engine::rowStride(c.width));
    EXPECT_EQ(p.fileSize, static_cast<std::int64_t>(c.file.size()));
}

// Width 0x01020304 and bit count 0x0118 show which bytes of a cut header were read.
const auto kOddHeader = bmpHeader(0x01020304, -7, 0x0118);

INSTANTIATE_TEST_SUITE_P(Cases, Probe, ::testing::Values(
    ProbeCase{"Whole", bmpHeader(6, 5, 24), 6, 5, 24},
    ProbeCase{"TopDown", bmpHeader(2048, -1536, 24), 2048, -1536, 24},
    ProbeCase{"OddValues", kOddHeader, 0x01020304, -7, 0x0118},
    ProbeCase{"CutInsideWidth", cut(kOddHeader, 20), 0x0304, 0, 0},
    ProbeCase{"CutInsideDepth", cut(kOddHeader, 29), 0x01020304, -7, 0x18},
    ProbeCase{"Empty", {}, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A 6 x 5 picture (rows of 18 pixel bytes and 2 padding bytes) changed by one edit.
struct CheckCase {
    const char* name;
    void (*edit)(Bytes&);
    std::optional<Failure> failure;  // nothing: the picture reads
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class Require24Bit : public ::testing::TestWithParam<CheckCase> {};

TEST_P(Require24Bit, RefusesWhatCannotBeReadRight)
{
    Bytes file = encodeBmp(asymmetricPicture(6, 5));
    GetParam().edit(file);
    auto reader = readerOf(file);
    if (!GetParam().failure) {
        EXPECT_NO_THROW(reader.require24Bit());
        return;
    }
    try {
        reader.require24Bit();
        ADD_FAILURE() << "accepted";
    } catch (const engine::EngineError& e) {
        EXPECT_EQ(e.failure(), *GetParam().failure) << e.what();
    }
}

void depth(Bytes& f, std::uint16_t bits) { testing_support::put16(f, 28, bits); }

INSTANTIATE_TEST_SUITE_P(Cases, Require24Bit, ::testing::Values(
    CheckCase{"AsWritten", [](Bytes&) {}, std::nullopt},
    CheckCase{"HeaderCut", [](Bytes& f) { f.resize(53); }, Failure::HeaderTruncated},
    CheckCase{"EightBit", [](Bytes& f) { depth(f, 8); }, Failure::EightBit},
    CheckCase{"ThirtyTwoBit", [](Bytes& f) { depth(f, 32); }, Failure::UnsupportedDepth},
    CheckCase{"DepthInTheHighByte", [](Bytes& f) { depth(f, 24 << 8); }, Failure::UnsupportedDepth},
    CheckCase{"CoreHeader", [](Bytes& f) { put32(f, 14, 12); }, Failure::UnsupportedHeader},
    CheckCase{"RunLengthEncoded", [](Bytes& f) { put32(f, 30, 1); }, Failure::Compressed},
    CheckCase{"Jpeg", [](Bytes& f) { put32(f, 30, 4); }, Failure::Compressed},
    CheckCase{"WidthZero", [](Bytes& f) { put32(f, 18, 0); }, Failure::BadWidth},
    CheckCase{"WidthNegative", [](Bytes& f) { put32(f, 18, 0x80000000u); }, Failure::BadWidth},
    CheckCase{"WidthPastTheLimit", [](Bytes& f) { put32(f, 18, 1'000'001); }, Failure::TooWide},
    CheckCase{"OffsetInsideTheInfoHeader", [](Bytes& f) { put32(f, 10, 53); }, Failure::BadPixelOffset},
    CheckCase{"OffsetZero", [](Bytes& f) { put32(f, 10, 0); }, Failure::BadPixelOffset},
    CheckCase{"OffsetPastTheEnd", [](Bytes& f) { put32(f, 10, 54 + 100 + 1); }, Failure::BadPixelOffset},
    CheckCase{"OffsetFarPastTheEnd", [](Bytes& f) { put32(f, 10, 0xFFFFFFFFu); }, Failure::BadPixelOffset},
    // Rows end 1 byte past the file once the pixels start one byte later.
    CheckCase{"OffsetPushingRowsPastTheEnd", [](Bytes& f) { put32(f, 10, 57); }, Failure::Truncated},
    CheckCase{"LastRowWithoutPadding", [](Bytes& f) { f.resize(f.size() - 2); }, std::nullopt},
    CheckCase{"LastRowOneByteShort", [](Bytes& f) { f.resize(f.size() - 3); }, Failure::Truncated},
    CheckCase{"HeightPastTheFile", [](Bytes& f) { put32(f, 22, 6); }, Failure::Truncated},
    CheckCase{"HeightOfTwoBillionRows", [](Bytes& f) { put32(f, 22, 0x7FFFFFFF); }, Failure::Truncated},
    CheckCase{"TopDownMostNegativeHeight", [](Bytes& f) { put32(f, 22, 0x80000000u); }, Failure::Truncated},
    CheckCase{"TopDown", [](Bytes& f) { put32(f, 22, static_cast<std::uint32_t>(-5)); }, std::nullopt},
    CheckCase{"NoRowsAndNoPixelBytes", [](Bytes& f) { put32(f, 22, 0); f.resize(54); }, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Reads every row through a stream and returns the picture it makes, in image order.
Picture streamed(engine::PictureReader& reader, RowStream::Order order)
{
    Picture p{static_cast<std::int32_t>(reader.width()), static_cast<std::int32_t>(reader.height()), {}};
    p.pixels.resize(static_cast<std::size_t>(p.width) * p.height);
    RowStream rows(reader, order, 0, reader.height() - 1);
    for (std::int64_t i = 0; i < reader.height(); ++i) {
        const std::int64_t y = order == RowStream::Order::TopFirst ? i : reader.height() - 1 - i;
        const std::uint8_t* row = rows.next();
        for (int x = 0; x < p.width; ++x) p.pixels[y * p.width + x] = {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
    }
    EXPECT_EQ(rows.next(), nullptr);
    return p;
}

struct LayoutCase {
    const char* name;
    std::int32_t width, height;
    BmpLayout layout;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class Layouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layouts, GiveTheSameImageRowsInBothOrders)
{
    const auto& c = GetParam();
    const Picture picture = asymmetricPicture(c.width, c.height);
    auto reader = readerOf(encodeBmp(picture, c.layout));
    ASSERT_NO_THROW(reader.require24Bit());
    for (const auto order : {RowStream::Order::TopFirst, RowStream::Order::BottomFirst}) {
        const Picture seen = streamed(reader, order);
        EXPECT_EQ(seen.width, picture.width);
        EXPECT_EQ(seen.height, picture.height);
        for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
            const auto& a = seen.pixels[i];
            const auto& b = picture.pixels[i];
            ASSERT_TRUE(a.b == b.b && a.g == b.g && a.r == b.r) << "pixel " << i;
        }
    }
}

BmpLayout layout(std::uint32_t infoSize, std::uint32_t gap, bool topDown, bool unpadded = false)
{
    return BmpLayout{24, infoSize, gap, topDown, unpadded};
}

INSTANTIATE_TEST_SUITE_P(Cases, Layouts, ::testing::Values(
    LayoutCase{"Camera", 6, 5, layout(40, 0, false)},
    LayoutCase{"V4Header", 7, 4, layout(108, 0, false)},
    LayoutCase{"V5Header", 5, 3, layout(124, 0, false)},
    LayoutCase{"V5HeaderAndGap", 3, 6, layout(124, 13, false)},
    LayoutCase{"TopDown", 6, 5, layout(40, 0, true)},
    LayoutCase{"TopDownOddWidthV5", 7, 3, layout(124, 2, true)},
    LayoutCase{"TopDownOneColumn", 1, 4, layout(40, 0, true)},
    LayoutCase{"LastRowUnpadded", 5, 3, layout(40, 0, false, true)},
    LayoutCase{"TopDownLastRowUnpadded", 5, 3, layout(124, 0, true, true)}),
    [](const auto& info) { return std::string(info.param.name); });

// Rows of 300,004 bytes: four to a block, so ten rows take three reads.
TEST(RowStreamBlocks, CrossBlockEdgesInEveryOrderAndLayout)
{
    Picture picture{100001, 10, {}};
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * picture.height);
    for (int y = 0; y < picture.height; ++y) {
        picture.pixels[static_cast<std::size_t>(y) * picture.width] = {static_cast<std::uint8_t>(y), 1, 2};
        picture.pixels[static_cast<std::size_t>(y + 1) * picture.width - 1] = {static_cast<std::uint8_t>(50 + y), 3, 4};
    }
    for (const bool topDown : {false, true}) {
        auto reader = readerOf(encodeBmp(picture, layout(40, 0, topDown)));
        ASSERT_NO_THROW(reader.require24Bit());
        const std::int64_t ranges[][2] = {{0, 9}, {3, 8}, {5, 5}};
        for (const auto& [y1, y2] : ranges) {
            RowStream rows(reader, RowStream::Order::TopFirst, y1, y2);
            EXPECT_EQ(rows.rows(), y2 - y1 + 1);
            for (std::int64_t y = y1; y <= y2; ++y) {
                const std::uint8_t* row = rows.next();
                ASSERT_EQ(row[0], y) << "top-down " << topDown << " row " << y;
                ASSERT_EQ(row[3 * (picture.width - 1)], 50 + y);
            }
        }
        RowStream bottomUp(reader, RowStream::Order::BottomFirst, 0, 0);
        for (std::int64_t y = picture.height - 1; y >= 0; --y) ASSERT_EQ(bottomUp.next()[0], y);
    }
}

TEST(ReadErrors, AreReportedNotTurnedIntoZeros)
{
    const Bytes file = encodeBmp(asymmetricPicture(6, 5));
    auto failing = readerOf(file, 54 + 20);  // the card fails after the first stored row
    ASSERT_NO_THROW(failing.require24Bit());
    RowStream rows(failing, RowStream::Order::TopFirst, 0, 4);
    try {
        rows.next();
        ADD_FAILURE() << "read on";
    } catch (const engine::EngineError& e) {
        EXPECT_EQ(e.failure(), Failure::ReadFailed);
    }
}

TEST(ReadErrors, AFileCutShortAfterTheCheckIsTruncated)
{
    Bytes file = encodeBmp(asymmetricPicture(6, 5));
    auto source = std::make_unique<testing_support::MemorySource>(file);
    auto* memory = source.get();
    engine::PictureReader reader(std::move(source), "memory");
    ASSERT_NO_THROW(reader.require24Bit());
    memory->shrinkTo(54 + 30);
    std::vector<std::uint8_t> rows(100);
    EXPECT_THROW(reader.readStored(0, 5, rows.data()), engine::EngineError);
}

TEST(OpenFile, FolderOrMissingFileCannotBeOpened)
{
    const testing_support::TempDir dir;
    const std::pair<std::filesystem::path, const char*> cases[] = {
        {dir.dir(), "フォルダーです"}, {dir.path("missing.bmp"), "ファイルまたはフォルダーが見つかりません"}};
    for (const auto& [path, reason] : cases) {
        try {
            engine::PictureReader::open(path.string());
            ADD_FAILURE() << path << " opened";
        } catch (const engine::EngineError& e) {
            EXPECT_EQ(e.failure(), Failure::CannotOpenInput);
            EXPECT_EQ(std::string(e.what()), "入力ファイルを開けません（" + std::string(reason) + "）\n" + path.string());
        }
    }
}

}  // namespace
