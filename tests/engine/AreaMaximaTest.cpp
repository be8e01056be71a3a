#include "window/AreaMaxima.h"
#include "runtime/Exceptions.h"

#include "OperationRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using window::Field;
using window::ResultLabel;
using testing_support::asymmetricPicture;
using testing_support::bmpHeader;
using testing_support::decodeBmp;
using testing_support::encodeBmp;
using testing_support::exitStatusOf;
using testing_support::messageOfError;
using testing_support::OperationRun;
using testing_support::Picture;
using testing_support::progressUntouched;

using Bytes = std::vector<std::uint8_t>;
using Labels = std::map<ResultLabel, std::string>;

const Labels kOldLabels{{ResultLabel::Label8, "7"}, {ResultLabel::Label9, "8"}, {ResultLabel::Label10, "9"}};

// 9 x 4: red falls from the top-left pixel on, blue rises to the bottom-right one and
// green wraps past 255 in the bottom row, so each channel has its maximum somewhere
// else and most rectangles have maxima of their own.
Picture picture()
{
    return asymmetricPicture(9, 4);
}

struct Fields {
    const char* x1;
    const char* y1;
    const char* x2;
    const char* y2;
};

void PrintTo(const Fields& f, std::ostream* os)
{
    *os << "'" << f.x1 << "' '" << f.y1 << "' '" << f.x2 << "' '" << f.y2 << "'";
}

void typeFields(OperationRun& run, const Fields& f)
{
    run.fake.fields[Field::Edit1] = f.x1;
    run.fake.fields[Field::Edit2] = f.y1;
    run.fake.fields[Field::Edit3] = f.x2;
    run.fake.fields[Field::Edit4] = f.y2;
}

// Columns x0..x1 and rows y0..y1 of the picture, corners inclusive; empty when an end
// lies before its start.
struct Region {
    int x0, x1, y0, y1;
    std::int64_t pixels() const { return x0 > x1 || y0 > y1 ? 0 : std::int64_t{x1 - x0 + 1} * (y1 - y0 + 1); }
};

// The labels a scan of the region must show, found pixel by pixel.
Labels maximaOf(const Picture& p, const Region& r)
{
    int red = 0, green = 0, blue = 0;
    for (int y = r.y0; y <= r.y1; ++y) {
        for (int x = r.x0; x <= r.x1; ++x) {
            red = std::max<int>(red, p.at(x, y).r);
            green = std::max<int>(green, p.at(x, y).g);
            blue = std::max<int>(blue, p.at(x, y).b);
        }
    }
    return {{ResultLabel::Label8, std::to_string(red)},
            {ResultLabel::Label9, std::to_string(green)},
            {ResultLabel::Label10, std::to_string(blue)}};
}

// Runs a scan that has to end with "完了" and gives the labels it set.
void expectScan(OperationRun& run, const Labels& expected, std::int64_t pixels)
{
    run.fake.labels = kOldLabels;

    window::findAreaMaxima(run.fake);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    EXPECT_EQ(run.fake.labelsAtMessage, std::vector<Labels>{kOldLabels});  // set only once it is dismissed
    EXPECT_EQ(run.fake.labels, expected);
    EXPECT_EQ(run.fake.pumps, pixels);
    EXPECT_EQ(run.fake.positionAtMessage, std::vector<int>{1});
    EXPECT_EQ(run.fake.progress.max(), 1);
    EXPECT_EQ(run.fake.progress.stepCount(), 1);
    EXPECT_EQ(run.fake.progress.position(), 0);
}

struct RectangleCase {
    const char* name;
    Fields typed;
    Region scanned;
};

void PrintTo(const RectangleCase& c, std::ostream* os) { *os << c.name; }

class AreaMaxima : public ::testing::TestWithParam<RectangleCase> {};

TEST_P(AreaMaxima, ShowsTheLargestBytesInsideTheFittedRectangle)
{
    const auto& c = GetParam();
    OperationRun run(encodeBmp(picture()));
    typeFields(run, c.typed);

    expectScan(run, maximaOf(picture(), c.scanned), c.scanned.pixels());

    EXPECT_EQ(run.fake.dialogRequests.at(0).title, "対象カラ―画像ファイル");
    EXPECT_EQ(run.fake.dialogsShown, std::vector<window::FileDialog>{window::FileDialog::Open});
}

INSTANTIATE_TEST_SUITE_P(Cases, AreaMaxima, ::testing::Values(
    RectangleCase{"FullFrame", {"0", "0", "8", "3"}, {0, 8, 0, 3}},
    RectangleCase{"PastRightAndBottom", {"0", "0", "100", "100"}, {0, 8, 0, 3}},
    RectangleCase{"TopLeftOnly", {"0", "0", "0", "0"}, {0, 0, 0, 0}},
    RectangleCase{"WhollyRightOfThePicture", {"150", "0", "300", "3"}, {150, 8, 0, 3}},
    RectangleCase{"WhollyBelowThePicture", {"0", "10", "8", "20"}, {0, 8, 10, 3}},
    RectangleCase{"AllNegativeIsTheWholePicture", {"-5", "-4", "-1", "-2"}, {0, 8, 0, 3}},
    RectangleCase{"NegativeColumnsSomeRows", {"-3", "1", "-1", "2"}, {0, 8, 1, 2}},
    RectangleCase{"TouchingTheBottomRow", {"2", "2", "5", "3"}, {2, 5, 2, 3}},
    RectangleCase{"BottomRightCorner", {"6", "3", "40", "3"}, {6, 8, 3, 3}},
    RectangleCase{"SingleInteriorPixel", {"4", "2", "4", "2"}, {4, 4, 2, 2}},
    RectangleCase{"FieldsInAnySpelling", {" 1", "$1", "x5", "+2"}, {1, 5, 1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AreaMaximaPicture, HasMaximaThatDependOnChannelAndRegion)
{
    // Guards the cases above: a test picture with one bright pixel would hide faults.
    const auto full = maximaOf(picture(), {0, 8, 0, 3});
    EXPECT_NE(full.at(ResultLabel::Label8), full.at(ResultLabel::Label9));
    EXPECT_NE(full.at(ResultLabel::Label9), full.at(ResultLabel::Label10));
    EXPECT_NE(full.at(ResultLabel::Label8), full.at(ResultLabel::Label10));
    EXPECT_NE(maximaOf(picture(), {2, 5, 2, 3}), full);
    EXPECT_NE(maximaOf(picture(), {0, 8, 1, 2}), full);
    EXPECT_NE(maximaOf(picture(), {4, 4, 2, 2}), maximaOf(picture(), {2, 5, 2, 3}));
}

struct InputCase {
    const char* name;
    std::function<Bytes()> input;
    Fields typed;
    // The scanned region, given as a function of the picture the file holds.
    std::function<Region(const Picture&)> scanned;
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }

class AreaMaximaInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(AreaMaximaInput, IsReadWhereItsHeaderSaysWithYFromTheTop)
{
    const auto& c = GetParam();
    const Bytes input = c.input();
    const Picture seen = decodeBmp(input);
    OperationRun run(input);
    typeFields(run, c.typed);

    const Region region = c.scanned(seen);
    expectScan(run, maximaOf(seen, region), region.pixels());
}

Bytes withHeight(std::int32_t height)
{
    Bytes bytes = bmpHeader(6, height, 24);
    bytes.resize(54 + 5 * 20, 0xFF);  // rows that would show 255 if any were read
    return bytes;
}

const Fields kWholePicture{"0", "0", "99999", "99999"};
const auto kAll = [](const Picture& p) { return Region{0, p.width - 1, 0, p.height - 1}; };
const auto kNone = [](const Picture&) { return Region{0, -1, 0, -1}; };

INSTANTIATE_TEST_SUITE_P(Cases, AreaMaximaInput, ::testing::Values(
    InputCase{"V5HeaderAndGap", [] { return encodeBmp(picture(), testing_support::BmpLayout{24, 124, 5}); },
              {"1", "1", "3", "2"}, [](const Picture&) { return Region{1, 3, 1, 2}; }},
    InputCase{"TopDown", [] { return encodeBmp(picture(), testing_support::BmpLayout{24, 40, 0, true}); },
              {"1", "0", "2", "1"}, [](const Picture&) { return Region{1, 2, 0, 1}; }},
    InputCase{"WiderThanFortyThousand", [] { return encodeBmp(asymmetricPicture(40001, 2)); },
              {"40000", "1", "40000", "1"}, [](const Picture&) { return Region{40000, 40000, 1, 1}; }},
    InputCase{"NoRows", [] { return withHeight(0); }, kWholePicture, kNone},
    InputCase{"TopDownWhole", [] { return encodeBmp(picture(), testing_support::BmpLayout{24, 108, 0, true}); },
              kWholePicture, kAll}),
    [](const auto& info) { return std::string(info.param.name); });

struct InvertedCase {
    Fields typed;
    const char* message;
};

void PrintTo(const InvertedCase& c, std::ostream* os) { PrintTo(c.typed, os); }

class AreaMaximaInverted : public ::testing::TestWithParam<InvertedCase> {};

TEST_P(AreaMaximaInverted, RectangleAsTypedEndsTheProcess)
{
    const auto& c = GetParam();
    OperationRun run(encodeBmp(picture()));
    run.fake.labels = kOldLabels;
    typeFields(run, c.typed);

    EXPECT_EQ(exitStatusOf([&] { window::findAreaMaxima(run.fake); }), -1);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(run.fake.labels, kOldLabels);
    EXPECT_EQ(run.fake.pumps, 0);
    EXPECT_TRUE(progressUntouched(run.fake.progress));
}

INSTANTIATE_TEST_SUITE_P(Cases, AreaMaximaInverted, ::testing::Values(
    InvertedCase{{"0", "5", "0", "4"}, "y値が違います"},
    InvertedCase{{"5", "0", "4", "0"}, "x値が違います"},
    InvertedCase{{"5", "5", "4", "4"}, "y値が違います"},  // rows are checked first
    // Clamping would make these upright; the check sees them as typed.
    InvertedCase{{"0", "-1", "0", "-5"}, "y値が違います"},
    InvertedCase{{"-1", "0", "-5", "0"}, "x値が違います"},
    InvertedCase{{"150", "0", "149", "0"}, "x値が違います"}));

struct BadFieldCase {
    Fields typed;
    const char* message;
};

void PrintTo(const BadFieldCase& c, std::ostream* os) { PrintTo(c.typed, os); }

class AreaMaximaField : public ::testing::TestWithParam<BadFieldCase> {};

TEST_P(AreaMaximaField, ThatIsNotAnIntegerReadsNothing)
{
    const auto& c = GetParam();
    OperationRun run(encodeBmp(picture()));
    run.fake.labels = kOldLabels;
    typeFields(run, c.typed);

    EXPECT_EQ(messageOfError<runtime::EConvertError>([&] { window::findAreaMaxima(run.fake); }), c.message);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{});
    EXPECT_EQ(run.fake.labels, kOldLabels);
    EXPECT_EQ(run.fake.pumps, 0);
    EXPECT_TRUE(progressUntouched(run.fake.progress));
}

INSTANTIATE_TEST_SUITE_P(Cases, AreaMaximaField, ::testing::Values(
    BadFieldCase{{"a1", "b2", "0", "0"}, "'a1' は整数ではありません"},  // Edit1 is read first
    BadFieldCase{{"0", "b2", "c3", "0"}, "'b2' は整数ではありません"},
    BadFieldCase{{"0", "0", "abc", "0"}, "'abc' は整数ではありません"},
    BadFieldCase{{"0", "0", "0", "4 "}, "'4 ' は整数ではありません"}));

// Each byte of a row in turn is made the one bright byte among dim ones, whose values
// differ per channel: the scan must find it in its own channel, within whole 16-pixel
// blocks, whole 64-pixel vector blocks and in the pixels after the last block alike,
// whether the row comes in one call or in two.
TEST(ChannelMaxima, FindsTheBrightByteInItsOwnChannelWhereverItLies)
{
    for (const std::size_t count : {1, 2, 15, 16, 17, 33, 50, 63, 64, 65, 81, 128, 150}) {
        for (std::size_t bright = 0; bright < 3 * count; ++bright) {
            Bytes row(3 * count);
            for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint8_t>(i % 3 * 10 + i % 7);
            row[bright] = static_cast<std::uint8_t>(200 + bright % 3);
            std::array<int, 3> expected{};  // blue, green, red
            for (std::size_t i = 0; i < row.size(); ++i) expected[i % 3] = std::max<int>(expected[i % 3], row[i]);

            for (const std::size_t firstCall : {count, count / 2}) {
                engine::ChannelMaxima max;
                max.scan(row.data(), firstCall);
                max.scan(row.data() + 3 * firstCall, count - firstCall);
                EXPECT_EQ((std::array<int, 3>{max.blue(), max.green(), max.red()}), expected)
                    << count << " pixels, bright byte " << bright << ", first call " << firstCall;
            }
        }
    }
}

// The window hands over to the pump only every 16384 pixels, so the scan takes long
// stretches of a row at once (here 4096, so that some also end inside a row); they
// must still end at the rectangle's edges.
TEST(AreaMaximaLongStretches, StayInsideTheRectangle)
{
    Picture p{5000, 3, {}};
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const auto dim = static_cast<std::uint8_t>((x + y) % 40);
            p.pixels.push_back({dim, static_cast<std::uint8_t>(50 + dim), static_cast<std::uint8_t>(100 + dim)});
        }
    }
    const auto set = [&p](int x, int y, testing_support::Pixel v) { p.pixels[static_cast<std::size_t>(y) * p.width + x] = v; };
    set(999, 1, {250, 250, 250});  // just left of the rectangle
    set(4501, 1, {250, 250, 250}); // just right of it
    set(1000, 2, {0, 201, 0});     // on its left edge
    set(4500, 0, {202, 0, 0});     // on its right edge
    set(4400, 1, {0, 0, 203});
    OperationRun run(encodeBmp(p));
    typeFields(run, {"1000", "0", "4500", "2"});
    run.fake.pumpEvery = 4096;

    window::findAreaMaxima(run.fake);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    EXPECT_EQ(run.fake.labels, (Labels{{ResultLabel::Label8, "203"}, {ResultLabel::Label9, "201"},
                                       {ResultLabel::Label10, "202"}}));
    EXPECT_EQ(run.fake.pumps, 3);  // after pixels 1, 4097 and 8193 of 3 x 3501, as one pump per pixel gives
}

}  // namespace
