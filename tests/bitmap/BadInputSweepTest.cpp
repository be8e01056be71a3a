// Damaged and strange pictures through every operation: each length a small picture
// can be cut to, and header values no camera writes. Every one gives a defined
// result, with the bytes the file lacks read as zero, and leaves the input as it was.

#include "bitmap/AreaMaxima.h"
#include "bitmap/Crop2048.h"
#include "bitmap/ByteOrder.h"
#include "bitmap/NdviRaster.h"

#include "ExpectedOutput.h"
#include "OperationRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace {

using bitmap::Field;
using bitmap::ResultLabel;
using testing_support::asymmetricPicture;
using testing_support::decodeBmp;
using testing_support::encodeBmp;
using testing_support::OperationRun;
using testing_support::Picture;
using testing_support::ProcessExit;
using testing_support::readFile;

using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<std::string>;

// How a run ends, and what it leaves.
enum class Ending {
    Done,        // "完了", and the output the picture's pixels give
    Silent,      // nothing shown, nothing written
    EightBit,    // the operation's own 8-bit message, then the process ends with -1
    TooWide,     // the too-wide message, nothing written
    RangeError,  // the progress bar refuses a negative height; the crop has written its header
};

struct Operation {
    const char* name;
    void (*run)(bitmap::Services&);
    const char* eightBitMessage;
};

const Operation kCrop{"Crop", bitmap::cropTo2048, "24ビットカラ―画像を指定してください"};
const Operation kMaxima{"AreaMaxima", bitmap::findAreaMaxima, "24ビットカラー画像を指定してください"};
const Operation kNdvi{"Ndvi", bitmap::makeNdviRaster, "24ビットフォルスカラ―画像を指定してください"};

void PrintTo(const Operation& op, std::ostream* os) { *os << op.name; }

std::vector<std::string> labelsOf(const OperationRun& run)
{
    const auto& l = run.fake.labels;
    if (l.empty()) return {};
    return {l.at(ResultLabel::Label8), l.at(ResultLabel::Label9), l.at(ResultLabel::Label10)};
}

// Runs the operation on the input, the area maxima over the whole picture, and checks
// the ending and what it left; a finished run's output is that of the picture seen,
// worked out only then (a header may claim more pixels than memory holds).
void expectEnding(const Operation& op, const Bytes& input, Ending ending, const std::function<Picture()>& seen)
{
    OperationRun run(input);
    run.fake.fields[Field::Edit3] = "99999";
    run.fake.fields[Field::Edit4] = "99999";
    std::optional<int> status;
    bool rangeError = false;
    try {
        op.run(run.fake);
    } catch (const ProcessExit& e) {
        status = e.status;
    } catch (const runtime::EInvalidOperation&) {
        rangeError = true;
    }
    EXPECT_EQ(readFile(run.input), input) << "the input was changed";
    EXPECT_EQ(status, ending == Ending::EightBit ? std::optional<int>(-1) : std::nullopt);
    EXPECT_EQ(rangeError, ending == Ending::RangeError);

    const bool writesFile = op.run != kMaxima.run;
    switch (ending) {
    case Ending::Done: {
        EXPECT_EQ(run.fake.messages, Messages{"完了"});
        if (op.run == kCrop.run) {
            EXPECT_EQ(run.outputBytes(), testing_support::expectedCrop(seen()));
        } else if (op.run == kNdvi.run) {
            EXPECT_EQ(run.outputBytes(), testing_support::expectedNdvi(seen()));
        } else {
            EXPECT_EQ(labelsOf(run), testing_support::expectedMaxima(seen()));
        }
        EXPECT_EQ(run.outputExists(), writesFile);
        return;
    }
    case Ending::Silent:
        EXPECT_EQ(run.fake.messages, Messages{});
        break;
    case Ending::EightBit:
        EXPECT_EQ(run.fake.messages, Messages{op.eightBitMessage});
        break;
    case Ending::TooWide:
        EXPECT_EQ(run.fake.messages, Messages{"画像の幅が大きすぎます"});
        break;
    case Ending::RangeError:
        EXPECT_EQ(run.fake.messages, Messages{});
        if (op.run == kCrop.run) {
            // Only the header, for the height as read.
            EXPECT_EQ(run.outputBytes(), testing_support::expectedCrop(seen()));
            return;
        }
        break;
    }
    EXPECT_FALSE(run.outputExists());
    EXPECT_EQ(labelsOf(run), std::vector<std::string>{});
    EXPECT_EQ(run.fake.pumps, 0);
}

class TruncatedPicture : public ::testing::TestWithParam<Operation> {};

TEST_P(TruncatedPicture, EveryLengthGivesRowsFilledWithZeroWhereTheFileEnds)
{
    // 7 x 4: rows of 21 pixel bytes and 3 padding bytes.
    const Bytes whole = encodeBmp(asymmetricPicture(7, 4));
    ASSERT_EQ(whole.size(), 54u + 4 * 24);
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(::testing::Message() << "cut to " << length << " bytes");
        const auto end = whole.begin() + static_cast<std::ptrdiff_t>(length);
        // The picture the operation has to see: the whole one with every byte from the
        // cut on set to zero.
        Bytes zeroed = whole;
        std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(length), zeroed.end(), 0);
        // The bit count is the last header value read, at byte 28: until it is in the
        // file the depth reads as 0, a depth no operation takes.
        expectEnding(GetParam(), Bytes(whole.begin(), end), length > 28 ? Ending::Done : Ending::Silent,
                     [&] { return decodeBmp(zeroed); });
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, TruncatedPicture, ::testing::Values(kCrop, kMaxima, kNdvi),
                         [](const auto& info) { return std::string(info.param.name); });

void put32(Bytes& bytes, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct HeaderCase {
    const char* name;
    std::size_t offset;  // 18 width, 22 height, 28 bit count, 10 pixel offset
    std::uint32_t value;
    int size;  // bytes written at the offset: 2 or 4
    Ending crop, maxima, ndvi;
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class HeaderMutation : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderMutation, GivesItsDefinedEndingInEveryOperation)
{
    const auto& c = GetParam();
    Bytes input = encodeBmp(asymmetricPicture(6, 5));
    if (c.size == 2) {
        input[c.offset] = static_cast<std::uint8_t>(c.value);
        input[c.offset + 1] = static_cast<std::uint8_t>(c.value >> 8);
    } else {
        put32(input, c.offset, c.value);
    }
    const std::pair<const Operation*, Ending> runs[] = {{&kCrop, c.crop}, {&kMaxima, c.maxima}, {&kNdvi, c.ndvi}};
    for (const auto& [op, ending] : runs) {
        SCOPED_TRACE(op->name);
        expectEnding(*op, input, ending, [&] { return decodeBmp(input); });
    }
}

constexpr auto D = Ending::Done;
constexpr auto S = Ending::Silent;
constexpr auto E = Ending::RangeError;

INSTANTIATE_TEST_SUITE_P(Cases, HeaderMutation, ::testing::Values(
    HeaderCase{"Depth24", 28, 24, 2, D, D, D},
    HeaderCase{"Depth0", 28, 0, 2, S, S, S},
    HeaderCase{"Depth1", 28, 1, 2, S, S, S},
    HeaderCase{"Depth4", 28, 4, 2, S, S, S},
    HeaderCase{"Depth8", 28, 8, 2, Ending::EightBit, Ending::EightBit, Ending::EightBit},
    HeaderCase{"Depth16", 28, 16, 2, S, S, S},
    HeaderCase{"Depth32", 28, 32, 2, S, S, S},
    HeaderCase{"Depth24InTheHighByte", 28, 24 << 8, 2, S, S, S},
    HeaderCase{"Depth8PlusHighByte", 28, 8 + (1 << 8), 2, S, S, S},
    HeaderCase{"WidthZero", 18, 0, 4, S, S, S},
    HeaderCase{"WidthMinusOne", 18, 0xFFFFFFFF, 4, S, S, S},
    HeaderCase{"WidthMinimum", 18, 0x80000000, 4, S, S, S},
    HeaderCase{"WidthMaximum", 18, 0x7FFFFFFF, 4, Ending::TooWide, Ending::TooWide, Ending::TooWide},
    HeaderCase{"WidthJustTooWide", 18, 1'000'001, 4, Ending::TooWide, Ending::TooWide, Ending::TooWide},
    // Rows longer than the file: every row past its end reads as zero.
    HeaderCase{"WidthFarBeyondTheFile", 18, 5000, 4, D, D, D},
    HeaderCase{"HeightZero", 22, 0, 4, D, D, D},
    HeaderCase{"HeightMinusOne", 22, 0xFFFFFFFF, 4, E, D, E},
    HeaderCase{"HeightMinimum", 22, 0x80000000, 4, E, D, E},
    // The top rows' offsets are past the end of the file, so they read as zero.
    HeaderCase{"HeightBeyondTheFile", 22, 3000, 4, D, D, D},
    // Where the pixels are said to start is never read: byte 54 it is.
    HeaderCase{"PixelOffsetPastTheEnd", 10, 0xFFFFFFFF, 4, D, D, D},
    HeaderCase{"PixelOffsetZero", 10, 0, 4, D, D, D}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReadCase {
    const char* name;
    std::int64_t offset;
    std::size_t size;
    Bytes expected;  // for the file 1, 2, ..., 10
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class InputFileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(InputFileRead, GivesZeroWhereTheFileHasNoBytes)
{
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("in.bmp"), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    auto input = bitmap::InputFile::open(dir.path("in.bmp").string());
    ASSERT_TRUE(input.has_value());
    Bytes buffer(GetParam().size, 0xEE);

    input->readAt(GetParam().offset, buffer.data(), buffer.size());

    EXPECT_EQ(buffer, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, InputFileRead, ::testing::Values(
    ReadCase{"Inside", 2, 3, {3, 4, 5}},
    ReadCase{"AcrossTheEnd", 8, 4, {9, 10, 0, 0}},
    ReadCase{"PastTheEnd", 10, 2, {0, 0}},
    ReadCase{"FortyGigabytesPastTheEnd", std::int64_t{40} << 30, 2, {0, 0}},
    // A seek before the start fails, so nothing is read, not even the bytes the span
    // would reach (the fuzzer's first question: a row above a one-row picture
    // 1,000,000 pixels wide).
    ReadCase{"BeforeTheStart", -2, 4, {0, 0, 0, 0}},
    ReadCase{"BeforeTheStartReachingIntoTheFile", -2'999'946, 3'000'000, Bytes(3'000'000, 0)}),
    [](const auto& info) { return std::string(info.param.name); });

struct FarRow {
    const char* name;
    const char* typed[4];
    std::vector<std::string> labels;
};

void PrintTo(const FarRow& c, std::ostream* os) { *os << c.name; }

class HugeHeight : public ::testing::TestWithParam<FarRow> {};

// A picture of 6 x 5 whose header claims 2147483647 rows: the area maxima reads only
// the rows asked for, at offsets up to 40 GB past the end of the file.
TEST_P(HugeHeight, AreaMaximaReadsOnlyTheRowsAskedFor)
{
    const auto& c = GetParam();
    Bytes input = encodeBmp(asymmetricPicture(6, 5));
    put32(input, 22, INT32_MAX);
    OperationRun run(input);
    const Field fields[] = {Field::Edit1, Field::Edit2, Field::Edit3, Field::Edit4};
    for (int i = 0; i < 4; ++i) run.fake.fields[fields[i]] = c.typed[i];

    bitmap::findAreaMaxima(run.fake);

    EXPECT_EQ(run.fake.messages, Messages{"完了"});
    EXPECT_EQ(labelsOf(run), c.labels);
}

// The bottom image row is the first stored row: the original picture's bottom row.
Picture bottomRowOnly()
{
    const Picture p = asymmetricPicture(6, 5);
    return Picture{6, 1, std::vector<testing_support::Pixel>(p.pixels.end() - 6, p.pixels.end())};
}

INSTANTIATE_TEST_SUITE_P(Cases, HugeHeight, ::testing::Values(
    FarRow{"TopRowPastTheEnd", {"0", "0", "5", "0"}, {"0", "0", "0"}},
    FarRow{"BottomRowIsTheFirstStored", {"0", "2147483646", "5", "2147483646"}, testing_support::expectedMaxima(bottomRowOnly())}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
