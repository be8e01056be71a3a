// Pictures the engine cannot read are answered with the engine's own message, and the
// viewer goes on showing what it showed.
#include "ViewerFixture.h"

#include "engine/EngineError.h"

#include <gtest/gtest.h>

namespace {

using namespace view_testing;
using engine::Failure;

std::vector<std::uint8_t> withByte(std::vector<std::uint8_t> b, std::size_t at, std::uint8_t v)
{
    b[at] = v;
    return b;
}

TEST(BadFileTest, EveryUnreadablePictureGetsTheEnginesMessage)
{
    testing_support::TempDir dir;
    const Picture p = testing_support::asymmetricPicture(6, 5);
    const auto good = testing_support::encodeBmp(p);
    testing_support::writeFile(dir.path("good.bmp"), good);

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        Failure failure;
        int detail;
    };
    std::vector<std::uint8_t> eightBit = testing_support::encodeBmp(p, 8);
    const Case cases[] = {
        {"eight.bmp", eightBit, Failure::EightBit, 8},
        {"sixteen.bmp", withByte(good, 28, 16), Failure::UnsupportedDepth, 16},
        {"short.bmp", {good.begin(), good.begin() + 30}, Failure::HeaderTruncated, 0},
        {"cut.bmp", {good.begin(), good.end() - 20}, Failure::Truncated, 0},
        {"rle.bmp", withByte(good, 30, 1), Failure::Compressed, 0},
        {"core.bmp", withByte(good, 14, 12), Failure::UnsupportedHeader, 0},
    };
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("good.bmp")));
    for (const Case& c : cases) {
        testing_support::writeFile(dir.path(c.name), c.bytes);
        v.messages.clear();
        EXPECT_FALSE(v.open(dir.path(c.name))) << c.name;
        EXPECT_EQ(v.messages, std::vector<QString>{QString::fromStdString(
                                  engine::failureMessage(c.failure, dir.path(c.name).string(), c.detail))})
            << c.name;
    }
    for (const auto& missing : {dir.path("missing.bmp"), dir.dir()}) {
        v.messages.clear();
        EXPECT_FALSE(v.open(missing));
        EXPECT_EQ(v.messages, std::vector<QString>{QString::fromStdString(
                                  engine::failureMessage(Failure::CannotOpenInput, missing.string()))});
    }
    // Still the good picture, still answering.
    EXPECT_EQ(v.window.picture()->path(), dir.path("good.bmp").string());
    const Pixel px = p.at(1, 2);
    EXPECT_TRUE(v.hover(1, 2).startsWith(QStringLiteral("x=1 y=2  R=%1 G=%2 B=%3").arg(px.r).arg(px.g).arg(px.b)));
}

}  // namespace
