// Damaged and strange pictures through every operation: each length a small picture
// can be cut to, and header values no camera writes. Every one either gives the
// result its pixels give or is refused with a message before any output exists, and
// the input is left as it was.

#include "OperationRun.h"
#include "Operations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace {

using window::Field;
using window::ResultLabel;
using testing_support::asymmetricPicture;
using testing_support::decodeBmp;
using testing_support::encodeBmp;
using testing_support::kCrop;
using testing_support::kMaxima;
using testing_support::kNdvi;
using testing_support::Operation;
using testing_support::OperationRun;
using testing_support::Picture;
using testing_support::ProcessExit;
using testing_support::put32;
using testing_support::readFile;

using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<std::string>;

// How a run ends, and what it leaves.
enum class Ending {
    Done,        // "完了", and the output the picture's pixels give
    EightBit,    // the operation's own 8-bit message, then the process ends with -1
    Truncated,   // refused: rows (or headers) end past the end of the file
    BadOffset,   // refused: the pixel data would start inside the headers or past the end
    BadWidth,    // refused: no pixels per row
    TooWide,     // refused: wider than any operation takes
    Depth,       // refused: a depth other than 8 and 24 (the message names it)
};

std::vector<std::string> labelsOf(const OperationRun& run)
{
    const auto& l = run.fake.labels;
    if (l.empty()) return {};
    return {l.at(ResultLabel::Label8), l.at(ResultLabel::Label9), l.at(ResultLabel::Label10)};
}

std::string refusal(Ending ending, const Bytes& input, const std::string& path)
{
    switch (ending) {
    case Ending::Truncated: return "画像ファイルが途中で切れています\n" + path;
    case Ending::BadOffset: return "画素データの位置が正しくありません\n" + path;
    case Ending::BadWidth: return "画像の幅が正しくありません\n" + path;
    case Ending::TooWide: return "画像の幅が大きすぎます";
    case Ending::Depth:
        return "24ビットカラー画像以外には対応していません（" + std::to_string(input[28] | input[29] << 8) + "ビット）";
    default: return {};
    }
}

// Runs the operation on the input, the area maxima over the whole picture, and checks
// the ending and what it left; a finished run's output is that of the picture seen.
void expectEnding(const Operation& op, const Bytes& input, Ending ending, const std::function<Picture()>& seen)
{
    OperationRun run(input);
    run.fake.fields[Field::Edit3] = "99999";
    run.fake.fields[Field::Edit4] = "99999";
    std::optional<int> status;
    try {
        op.run(run.fake);
    } catch (const ProcessExit& e) {
        status = e.status;
    }
    EXPECT_EQ(readFile(run.input), input) << "the input was changed";
    EXPECT_EQ(status, ending == Ending::EightBit ? std::optional<int>(-1) : std::nullopt);

    if (ending == Ending::Done) {
        EXPECT_EQ(run.fake.messages, Messages{"完了"});
        if (op.writesFile()) {
            EXPECT_EQ(run.outputBytes(), op.expected(seen()));
        } else {
            EXPECT_EQ(labelsOf(run), testing_support::expectedMaxima(seen()));
        }
        EXPECT_EQ(run.outputExists(), op.writesFile());
        return;
    }
    const std::string message = ending == Ending::EightBit ? op.eightBitMessage : refusal(ending, input, run.input.string());
    EXPECT_EQ(run.fake.messages, Messages{message});
    EXPECT_FALSE(run.outputExists());
    EXPECT_EQ(labelsOf(run), std::vector<std::string>{});
    EXPECT_EQ(run.fake.pumps, 0);
    EXPECT_TRUE(testing_support::progressUntouched(run.fake.progress));
}

class TruncatedPicture : public ::testing::TestWithParam<Operation> {};

TEST_P(TruncatedPicture, IsRefusedUnlessOnlyTheLastRowsPaddingIsMissing)
{
    // 7 x 4: rows of 21 pixel bytes and 3 padding bytes.
    const Bytes whole = encodeBmp(asymmetricPicture(7, 4));
    ASSERT_EQ(whole.size(), 54u + 4 * 24);
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(::testing::Message() << "cut to " << length << " bytes");
        const Bytes input = testing_support::cut(whole, length);
        // Under 30 bytes the depth reads as 0 and under 54 the headers are cut: a
        // short file is refused as cut off, whatever else its header says.
        expectEnding(GetParam(), input, length >= whole.size() - 3 ? Ending::Done : Ending::Truncated,
                     [&] { return decodeBmp(input); });
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, TruncatedPicture, ::testing::Values(kCrop, kMaxima, kNdvi),
                         testing_support::operationName);

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
constexpr auto T = Ending::Truncated;
constexpr auto O = Ending::BadOffset;
constexpr auto W = Ending::BadWidth;
constexpr auto B = Ending::Depth;
constexpr auto Wide = Ending::TooWide;
constexpr auto Eight = Ending::EightBit;

INSTANTIATE_TEST_SUITE_P(Cases, HeaderMutation, ::testing::Values(
    HeaderCase{"Depth24", 28, 24, 2, D, D, D},
    HeaderCase{"Depth0", 28, 0, 2, B, B, B},
    HeaderCase{"Depth1", 28, 1, 2, B, B, B},
    HeaderCase{"Depth4", 28, 4, 2, B, B, B},
    HeaderCase{"Depth8", 28, 8, 2, Eight, Eight, Eight},
    HeaderCase{"Depth16", 28, 16, 2, B, B, B},
    HeaderCase{"Depth32", 28, 32, 2, B, B, B},
    HeaderCase{"Depth24InTheHighByte", 28, 24 << 8, 2, B, B, B},
    HeaderCase{"Depth8PlusHighByte", 28, 8 + (1 << 8), 2, B, B, B},
    HeaderCase{"WidthZero", 18, 0, 4, W, W, W},
    HeaderCase{"WidthMinusOne", 18, 0xFFFFFFFF, 4, W, W, W},
    HeaderCase{"WidthMinusThree", 18, static_cast<std::uint32_t>(-3), 4, W, W, W},
    HeaderCase{"WidthMinimum", 18, 0x80000000, 4, W, W, W},
    HeaderCase{"WidthMaximum", 18, 0x7FFFFFFF, 4, Wide, Wide, Wide},
    HeaderCase{"WidthJustTooWide", 18, 1'000'001, 4, Wide, Wide, Wide},
    // Rows longer than the file has: refused before anything is written.
    HeaderCase{"WidthFarBeyondTheFile", 18, 5000, 4, T, T, T},
    HeaderCase{"HeightZero", 22, 0, 4, D, D, D},
    // A top-down picture of one row: the first stored row, the original's bottom row.
    HeaderCase{"HeightMinusOne", 22, 0xFFFFFFFF, 4, D, D, D},
    HeaderCase{"HeightMinusFive", 22, static_cast<std::uint32_t>(-5), 4, D, D, D},
    HeaderCase{"HeightMinimum", 22, 0x80000000, 4, T, T, T},
    HeaderCase{"HeightBeyondTheFile", 22, 3000, 4, T, T, T},
    // Terabytes of output for a 154-byte file, once: refused at once.
    HeaderCase{"HeightMaximum", 22, 0x7FFFFFFF, 4, T, T, T},
    HeaderCase{"PixelOffsetPastTheEnd", 10, 0xFFFFFFFF, 4, O, O, O},
    HeaderCase{"PixelOffsetZero", 10, 0, 4, O, O, O},
    HeaderCase{"PixelOffsetInsideTheInfoHeader", 10, 40, 4, O, O, O}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
