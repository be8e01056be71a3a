#include "bitmap/BitmapProbe.h"
#include "bitmap/ByteOrder.h"

#include "BmpFixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using bitmap::Gate;
using testing_support::bmpHeader;

struct StrideCase {
    std::int64_t width, stride;
};

void PrintTo(const StrideCase& c, std::ostream* os) { *os << "width " << c.width; }

class RowStride : public ::testing::TestWithParam<StrideCase> {};

TEST_P(RowStride, IsThreeBytesPerPixelRoundedUpToFour)
{
    EXPECT_EQ(bitmap::rowStride(GetParam().width), GetParam().stride) << "width " << GetParam().width;
}

INSTANTIATE_TEST_SUITE_P(Cases, RowStride, ::testing::Values(
    StrideCase{1, 4}, StrideCase{2, 8}, StrideCase{3, 12}, StrideCase{4, 12}, StrideCase{6, 20},
    StrideCase{2048, 6144}, StrideCase{2049, 6148}, StrideCase{0, 0},
    // the truncating remainder of a signed division
    StrideCase{-1, 4}, StrideCase{-2, 0}, StrideCase{-3, -4}));

TEST(RowStride, ImageRowsAreStoredBottomUp)
{
    EXPECT_EQ(bitmap::imageRowOffset(5, 20, 0), 54 + 4 * 20);
    EXPECT_EQ(bitmap::imageRowOffset(5, 20, 4), 54);
}

struct GateCase {
    std::int32_t width;
    std::uint16_t bitCount;
    Gate verdict;
};

void PrintTo(const GateCase& c, std::ostream* os) { *os << "width " << c.width << " bits " << c.bitCount; }

class BitDepthGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(BitDepthGate, DecidesFromDepthAndWidth)
{
    const auto& c = GetParam();
    bitmap::BitmapProbe p;
    p.width = c.width;
    p.height = 5;
    p.bitCount = c.bitCount;
    p.rowStride = bitmap::rowStride(c.width);
    EXPECT_EQ(bitmap::gate(p), c.verdict) << "width " << c.width << " bits " << c.bitCount;
}

INSTANTIATE_TEST_SUITE_P(Cases, BitDepthGate, ::testing::Values(
    GateCase{6, 24, Gate::Proceed},
    GateCase{1, 24, Gate::Proceed},
    GateCase{bitmap::kMaxWidth, 24, Gate::Proceed},
    GateCase{6, 8, Gate::EightBit},
    GateCase{-3, 8, Gate::EightBit},
    GateCase{6, 32, Gate::Unsupported},
    GateCase{6, 1, Gate::Unsupported},
    GateCase{6, 4, Gate::Unsupported},
    GateCase{6, 16, Gate::Unsupported},
    GateCase{6, 0, Gate::Unsupported},
    GateCase{6, 24 + 256, Gate::Unsupported},
    GateCase{0, 24, Gate::Unsupported},
    GateCase{-1, 24, Gate::Unsupported},
    GateCase{-2147483647 - 1, 24, Gate::Unsupported},
    GateCase{bitmap::kMaxWidth + 1, 24, Gate::TooWide},
    GateCase{2147483647, 24, Gate::TooWide},
    GateCase{bitmap::kMaxWidth + 1, 32, Gate::Unsupported}));

struct ProbeCase {
    const char* name;
    std::vector<std::uint8_t> file;
    std::int32_t width, height;
    std::uint16_t bitCount;
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

class Probe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(Probe, ReadsSignedSizesAndDepthWithMissingBytesAsZero)
{
    const auto& c = GetParam();
    const testing_support::TempDir dir;
    const auto path = dir.path("probe.bmp");
    testing_support::writeFile(path, c.file);
    auto input = bitmap::InputFile::open(path.string());
    ASSERT_TRUE(input);

    const auto p = bitmap::probe(*input);
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    EXPECT_EQ(p.bitCount, c.bitCount);
    EXPECT_EQ(p.rowStride, bitmap::rowStride(c.width));
}

// Width 0x01020304 and bit count 0x0118 show which bytes of a cut header were read.
const auto kOddHeader = bmpHeader(0x01020304, -7, 0x0118);

INSTANTIATE_TEST_SUITE_P(Cases, Probe, ::testing::Values(
    ProbeCase{"Whole", bmpHeader(6, 5, 24), 6, 5, 24},
    ProbeCase{"TopDown", bmpHeader(2048, -1536, 24), 2048, -1536, 24},
    ProbeCase{"OddValues", kOddHeader, 0x01020304, -7, 0x0118},
    ProbeCase{"CutInsideWidth", cut(kOddHeader, 20), 0x0304, 0, 0},
    ProbeCase{"CutBeforeDepth", cut(kOddHeader, 28), 0x01020304, -7, 0},
    ProbeCase{"CutInsideDepth", cut(kOddHeader, 29), 0x01020304, -7, 0x18},
    ProbeCase{"Empty", {}, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InputFile, FolderOrMissingFileDoesNotOpen)
{
    const testing_support::TempDir dir;
    EXPECT_FALSE(bitmap::InputFile::open(dir.dir().string()));
    EXPECT_FALSE(bitmap::InputFile::open(dir.path("missing.bmp").string()));
}

}  // namespace
