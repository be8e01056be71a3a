// The status bar's label for the pixel under the pointer, on pictures stored bottom-up,
// top-down and with the 124-byte info header.
#include "ViewerFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace view_testing;

struct Layout {
    const char* name;
    std::uint32_t infoSize;
    bool topDown;
};

class PointerTest : public ::testing::TestWithParam<Layout> {};

TEST_P(PointerTest, LabelShowsBytesAndNdviOfThePixelUnderThePointer)
{
    Picture p = testing_support::asymmetricPicture(7, 5);
    p.pixels[2 * 7 + 3] = {9, 0, 0};  // NIR and red both 0: the marker
    testing_support::TempDir dir;
    const auto file = dir.path("frame.bmp");
    testing_support::writeFile(file, testing_support::encodeBmp(p, {.infoSize = GetParam().infoSize, .topDown = GetParam().topDown}));

    Viewer v;
    v.window.setWhiteValues({200, 180});  // some reflectances capped at 1
    ASSERT_TRUE(v.open(file));
    ASSERT_TRUE(v.messages.empty());
    for (auto [x, y] : {std::pair{0, 0}, {6, 0}, {0, 4}, {6, 4}, {2, 3}, {5, 1}}) {
        const Pixel px = p.at(x, y);
        const QString expected = QStringLiteral("x=%1 y=%2  R=%3 G=%4 B=%5  NDVI=%6")
                                     .arg(x)
                                     .arg(y)
                                     .arg(px.r)
                                     .arg(px.g)
                                     .arg(px.b)
                                     .arg(fourDecimals(oracleNdvi(px.r, px.g, 200, 180)));
        EXPECT_EQ(v.hover(x, y), expected) << "pixel " << x << "," << y;
    }
    EXPECT_EQ(v.hover(3, 2), QStringLiteral("x=3 y=2  R=0 G=0 B=9  NDVI=-10"));

    // A new white value shows at once for the pixel still under the pointer.
    v.window.setWhiteValues({255, 255});
    EXPECT_EQ(v.window.pointerText(), QStringLiteral("x=3 y=2  R=0 G=0 B=9  NDVI=-10"));
    const Pixel px = p.at(5, 1);
    v.hover(5, 1);
    v.window.setWhiteValues({120, 250});
    EXPECT_TRUE(v.window.pointerText().endsWith(fourDecimals(oracleNdvi(px.r, px.g, 120, 250))));
}

INSTANTIATE_TEST_SUITE_P(Layouts, PointerTest,
                         ::testing::Values(Layout{"bottomUp", 40, false}, Layout{"topDown", 40, true},
                                           Layout{"v5Header", 124, false}, Layout{"v5TopDown", 124, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
