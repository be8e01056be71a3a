#include "window/NdviRaster.h"
#include "runtime/Exceptions.h"

#include "NdviOracle.h"
#include "OperationRun.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using window::Field;
using testing_support::asymmetricPicture;
using testing_support::bmpHeader;
using testing_support::decodeBmp;
using testing_support::encodeBmp;
using testing_support::messageOfError;
using testing_support::OperationRun;
using testing_support::Picture;
using testing_support::Pixel;
using testing_support::progressUntouched;

using Bytes = std::vector<std::uint8_t>;

std::uint32_t bitsOf(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The raster's values as stored: little-endian float32 bit patterns.
std::vector<std::uint32_t> rasterBits(const Bytes& raw)
{
    std::vector<std::uint32_t> bits;
    for (std::size_t i = 0; i + 4 <= raw.size(); i += 4) {
        bits.push_back(std::uint32_t{raw[i]} | std::uint32_t{raw[i + 1]} << 8 | std::uint32_t{raw[i + 2]} << 16
                       | std::uint32_t{raw[i + 3]} << 24);
    }
    return bits;
}

// The raster a picture must give: the formula's value of every pixel, top row first.
std::vector<std::uint32_t> expectedRaster(const Picture& p, float nirWhite, float redWhite)
{
    std::vector<std::uint32_t> bits;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) bits.push_back(bitsOf(testing_support::oracleNdvi(p.at(x, y).r, p.at(x, y).g, nirWhite, redWhite)));
    }
    return bits;
}

void expectRaster(const Bytes& raw, const Picture& p, float nirWhite, float redWhite)
{
    ASSERT_EQ(raw.size(), 4u * p.width * p.height);
    const auto actual = rasterBits(raw);
    const auto expected = expectedRaster(p, nirWhite, redWhite);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(actual[i], expected[i]) << "pixel x " << i % p.width << " y " << i / p.width;
    }
}

struct WhiteFields {
    const char* nir;  // Edit5
    const char* red;  // Edit6
    float nirValue, redValue;
};

void PrintTo(const WhiteFields& c, std::ostream* os) { *os << "NIR '" << c.nir << "' red '" << c.red << "'"; }

class NdviRun : public ::testing::TestWithParam<WhiteFields> {};

TEST_P(NdviRun, WritesOneFloatPerPixelTopRowFirst)
{
    const auto& w = GetParam();
    const Picture picture = asymmetricPicture();
    OperationRun run(encodeBmp(picture));
    testing_support::writeFile(run.output, Bytes(1000, 0xEE));  // replaced, not kept
    run.fake.fields[Field::Edit5] = w.nir;
    run.fake.fields[Field::Edit6] = w.red;

    window::makeNdviRaster(run.fake);

    ASSERT_EQ(run.fake.dialogRequests.size(), 2u);
    EXPECT_EQ(run.fake.dialogRequests[0].title, "対象物フォルスカラ―画像ファイル");
    EXPECT_EQ(run.fake.dialogRequests[0].filter, "BMPファイル (*.bmp) | *.bmp");
    EXPECT_EQ(run.fake.dialogRequests[0].defaultExt, ".bmp");
    EXPECT_EQ(run.fake.dialogRequests[1].title, "保存先ファイル名（NDVI-RAW）を指定する");
    EXPECT_EQ(run.fake.dialogRequests[1].filter, "RAWファイル (*.raw) | *.raw");
    EXPECT_EQ(run.fake.dialogRequests[1].defaultExt, ".raw");
    EXPECT_EQ(run.fake.dialogsShown, (std::vector<window::FileDialog>{window::FileDialog::Open, window::FileDialog::Save}));

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    EXPECT_EQ(run.fake.positionAtMessage, std::vector<int>{5});
    EXPECT_EQ(run.fake.progress.max(), 5);
    EXPECT_EQ(run.fake.progress.stepCount(), 5);
    EXPECT_EQ(run.fake.progress.position(), 0);
    EXPECT_EQ(run.fake.pumps, 30);

    expectRaster(run.outputBytes(), picture, w.nirValue, w.redValue);
}

INSTANTIATE_TEST_SUITE_P(Cases, NdviRun, ::testing::Values(
    WhiteFields{"255", "255", 255, 255},
    WhiteFields{" 200", "$B4", 200, 180},
    WhiteFields{"150", "-255", 150, -255}));

struct PixelCase {
    const char* name;
    const char* nirWhite;
    const char* redWhite;
    Pixel pixel;
    std::uint32_t bits;
};

void PrintTo(const PixelCase& c, std::ostream* os) { *os << c.name; }

class NdviPixelValue : public ::testing::TestWithParam<PixelCase> {};

TEST_P(NdviPixelValue, IsWrittenExactly)
{
    const auto& c = GetParam();
    OperationRun run(encodeBmp(Picture{1, 1, {c.pixel}}));
    run.fake.fields[Field::Edit5] = c.nirWhite;
    run.fake.fields[Field::Edit6] = c.redWhite;

    window::makeNdviRaster(run.fake);

    EXPECT_EQ(rasterBits(run.outputBytes()), std::vector<std::uint32_t>{c.bits});
}

INSTANTIATE_TEST_SUITE_P(Cases, NdviPixelValue, ::testing::Values(
    PixelCase{"OneThird", "255", "255", {9, 100, 200}, bitsOf(1.0f / 3.0f)},
    PixelCase{"OneThirdWhateverTheBlue", "255", "255", {255, 100, 200}, bitsOf(1.0f / 3.0f)},
    PixelCase{"BothBandsZeroIsTheMarker", "255", "255", {0, 0, 0}, 0xC1200000u},
    PixelCase{"MarkerWhateverTheBlue", "255", "255", {255, 0, 0}, 0xC1200000u},
    PixelCase{"NoNirIsMinusOne", "255", "255", {7, 50, 0}, bitsOf(-1.0f)},
    PixelCase{"NoRedIsPlusOne", "255", "255", {7, 0, 50}, bitsOf(1.0f)},
    PixelCase{"BothCappedAtOneGiveZero", "100", "100", {1, 120, 250}, bitsOf(0.0f)},
    PixelCase{"NegativeWhiteCanCancelToTheMarker", "-100", "100", {0, 100, 100}, 0xC1200000u},
    PixelCase{"NegativeWhiteIsNotCapped", "-100", "100", {0, 100, 50}, bitsOf(-3.0f)}),
    [](const auto& info) { return std::string(info.param.name); });

struct ZeroWhiteCase {
    const char* name;
    const char* nirWhite;
    const char* redWhite;
    std::uint8_t green, red;  // bytes of the top-left pixel
    const std::type_info* kind;
    const char* message;
};

void PrintTo(const ZeroWhiteCase& c, std::ostream* os) { *os << c.name; }

class NdviZeroWhite : public ::testing::TestWithParam<ZeroWhiteCase> {};

TEST_P(NdviZeroWhite, FailsAtTheTopLeftPixelLeavingAnEmptyOutput)
{
    const auto& c = GetParam();
    // Every other pixel has the opposite zero bytes, so reading the wrong one shows.
    const auto flip = [](std::uint8_t v) { return static_cast<std::uint8_t>(v == 0 ? 9 : 0); };
    const Pixel other{5, flip(c.green), flip(c.red)};
    OperationRun run(encodeBmp(Picture{2, 2, {{5, c.green, c.red}, other, other, other}}));
    run.fake.fields[Field::Edit5] = c.nirWhite;
    run.fake.fields[Field::Edit6] = c.redWhite;

    try {
        window::makeNdviRaster(run.fake);
        FAIL() << "no error";
    } catch (const runtime::Exception& e) {
        EXPECT_EQ(typeid(e), *c.kind);
        EXPECT_EQ(e.message(), c.message);
    }
    ASSERT_TRUE(run.outputExists());
    EXPECT_EQ(run.outputBytes(), Bytes{});
    EXPECT_EQ(run.fake.messages, std::vector<std::string>{});
    EXPECT_EQ(run.fake.pumps, 0);
}

const char* const kInvalidOp = "不正な浮動小数点数演算命令";
const char* const kZeroDivide = "0 による浮動小数点数除算";

INSTANTIATE_TEST_SUITE_P(Cases, NdviZeroWhite, ::testing::Values(
    ZeroWhiteCase{"RedWhiteZeroOverZeroGreen", "255", "0", 0, 9, &typeid(runtime::EInvalidOp), kInvalidOp},
    ZeroWhiteCase{"RedWhiteZeroUnderGreen", "255", "0", 9, 0, &typeid(runtime::EZeroDivide), kZeroDivide},
    ZeroWhiteCase{"NirWhiteZeroOverZeroRed", "0", "255", 9, 0, &typeid(runtime::EInvalidOp), kInvalidOp},
    ZeroWhiteCase{"NirWhiteZeroUnderRed", "0", "255", 0, 9, &typeid(runtime::EZeroDivide), kZeroDivide},
    // Both zero: the green byte is divided first.
    ZeroWhiteCase{"BothZeroGreenFirst", "0", "0", 0, 9, &typeid(runtime::EInvalidOp), kInvalidOp}),
    [](const auto& info) { return std::string(info.param.name); });

struct FieldCase {
    const char* nirWhite;
    const char* redWhite;
    const char* message;
};

void PrintTo(const FieldCase& c, std::ostream* os) { *os << "NIR '" << c.nirWhite << "' red '" << c.redWhite << "'"; }

class NdviWhiteField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(NdviWhiteField, ThatIsNotAnIntegerStopsBeforeTheOutputExists)
{
    const auto& c = GetParam();
    OperationRun run(encodeBmp(asymmetricPicture()));
    run.fake.fields[Field::Edit5] = c.nirWhite;
    run.fake.fields[Field::Edit6] = c.redWhite;

    EXPECT_EQ(messageOfError<runtime::EConvertError>([&] { window::makeNdviRaster(run.fake); }), c.message);

    EXPECT_FALSE(run.outputExists());
    EXPECT_TRUE(progressUntouched(run.fake.progress));
    EXPECT_EQ(run.fake.messages, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, NdviWhiteField, ::testing::Values(
    FieldCase{"abc", "255", "'abc' は整数ではありません"},
    FieldCase{"255", "1.5", "'1.5' は整数ではありません"},
    FieldCase{"a1", "b2", "'a1' は整数ではありません"},  // Edit5 is read first
    FieldCase{"", "255", "'' は整数ではありません"}));

TEST(NdviRaster, NoRowsGiveAnEmptyFileAndDone)
{
    OperationRun run(bmpHeader(6, 0, 24));
    testing_support::writeFile(run.output, Bytes(10, 0xEE));

    window::makeNdviRaster(run.fake);

    ASSERT_TRUE(run.outputExists());
    EXPECT_EQ(run.outputBytes(), Bytes{});
    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    EXPECT_EQ(run.fake.progress.max(), 0);
}

// Four extra bytes between the header and the pixels, announced in bfOffBits.
Bytes withLargerPixelOffset(const Picture& p)
{
    Bytes bytes = encodeBmp(p);
    bytes[10] = 58;
    bytes.insert(bytes.begin() + 54, {0xA1, 0xA2, 0xA3, 0xA4});
    return bytes;
}

Bytes laidOut(const Picture& p, std::uint32_t infoSize, std::uint32_t gap, bool topDown, bool unpadded = false)
{
    return encodeBmp(p, testing_support::BmpLayout{24, infoSize, gap, topDown, unpadded});
}

struct InputCase {
    const char* name;
    std::function<Bytes()> input;
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }

class NdviInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(NdviInput, IsReadWhereItsHeaderSaysTopRowFirst)
{
    const Bytes input = GetParam().input();
    const Picture seen = decodeBmp(input);
    OperationRun run(input);

    window::makeNdviRaster(run.fake);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    EXPECT_EQ(run.fake.pumps, std::int64_t{seen.width} * seen.height);
    expectRaster(run.outputBytes(), seen, 255, 255);
}

INSTANTIATE_TEST_SUITE_P(Cases, NdviInput, ::testing::Values(
    InputCase{"LargerPixelOffset", [] { return withLargerPixelOffset(asymmetricPicture()); }},
    InputCase{"V4Header", [] { return laidOut(asymmetricPicture(7, 3), 108, 0, false); }},
    InputCase{"V5HeaderAndGap", [] { return laidOut(asymmetricPicture(5, 4), 124, 9, false); }},
    InputCase{"TopDown", [] { return laidOut(asymmetricPicture(6, 5), 40, 0, true); }},
    InputCase{"TopDownOddWidthV5", [] { return laidOut(asymmetricPicture(7, 4), 124, 0, true); }},
    InputCase{"LastRowUnpadded", [] { return laidOut(asymmetricPicture(5, 3), 40, 0, false, true); }},
    // Rows 300,004 bytes long: a few to a block, read against the file's order.
    InputCase{"SeveralBlocks", [] { return encodeBmp(asymmetricPicture(100001, 9)); }},
    InputCase{"PaddedBy3", [] { return encodeBmp(asymmetricPicture(7, 3)); }},
    InputCase{"WiderThanFortyThousand", [] { return encodeBmp(asymmetricPicture(40001, 2)); }}),
    [](const auto& info) { return std::string(info.param.name); });

// Every (NIR, red) byte pair once, NIR down the rows and red across, with a blue that
// varies too, taken in the window's long stretches between two pumps.
class NdviEveryBytePair : public ::testing::TestWithParam<WhiteFields> {};

TEST_P(NdviEveryBytePair, IsWrittenAsThePlainFormulaGivesIt)
{
    const auto& w = GetParam();
    Picture picture{256, 256, {}};
    for (int nir = 0; nir < 256; ++nir) {
        for (int red = 0; red < 256; ++red) {
            picture.pixels.push_back({static_cast<std::uint8_t>(nir ^ red), static_cast<std::uint8_t>(red),
                                      static_cast<std::uint8_t>(nir)});
        }
    }
    OperationRun run(encodeBmp(picture));
    run.fake.fields[Field::Edit5] = w.nir;
    run.fake.fields[Field::Edit6] = w.red;
    run.fake.pumpEvery = 4096;

    window::makeNdviRaster(run.fake);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    expectRaster(run.outputBytes(), picture, w.nirValue, w.redValue);
}

INSTANTIATE_TEST_SUITE_P(Whites, NdviEveryBytePair, ::testing::Values(
    WhiteFields{"255", "255", 255, 255},
    WhiteFields{"200", "180", 200, 180},
    WhiteFields{"1", "1", 1, 1},
    WhiteFields{"-1", "255", -1, 255}));

}  // namespace
