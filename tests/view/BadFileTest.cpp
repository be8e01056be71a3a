// Pictures the engine cannot read are answered with the engine's own message, and the
// viewer goes on showing what it showed.
#include "ViewerFixture.h"

#include "engine/platform/EngineError.h"

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
        bool engineNamesFile;  // else the viewer adds the path on a line of its own
    };
    std::vector<std::uint8_t> eightBit = testing_support::encodeBmp(p, 8);
    // A PNG's signature and the start of its first chunk: read as a bitmap, a depth of
    // 47872 bits.
    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    png.resize(80, 0);
    png[29] = 0xBB;
    const std::string text = "width,height\n6,5\nnot a picture at all, only words in a file named .bmp\n";
    const Case cases[] = {
        {"eight.bmp", eightBit, Failure::EightBit, 8, false},
        {"sixteen.bmp", withByte(good, 28, 16), Failure::UnsupportedDepth, 16, false},
        {"short.bmp", {good.begin(), good.begin() + 30}, Failure::HeaderTruncated, 0, true},
        {"cut.bmp", {good.begin(), good.end() - 20}, Failure::Truncated, 0, true},
        {"rle.bmp", withByte(good, 30, 1), Failure::Compressed, 0, true},
        {"core.bmp", withByte(good, 14, 12), Failure::UnsupportedHeader, 0, true},
        {"png.bmp", png, Failure::NotBitmap, 0, true},
        {"text.bmp", {text.begin(), text.end()}, Failure::NotBitmap, 0, true},
        {"empty.bmp", {}, Failure::NotBitmap, 0, true},
        {"unsigned16.bmp", withByte(withByte(good, 28, 16), 0, 'X'), Failure::NotBitmap, 0, true},
    };
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("good.bmp")));
    for (const Case& c : cases) {
        const std::string path = dir.path(c.name).string();
        testing_support::writeFile(path, c.bytes);
        v.messages.clear();
        EXPECT_FALSE(v.open(path)) << c.name;
        QString expected = QString::fromStdString(engine::failureMessage(c.failure, path, c.detail));
        if (!c.engineNamesFile) expected += QLatin1Char('\n') + QString::fromStdString(path);
        EXPECT_EQ(v.messages, std::vector<QString>{expected}) << c.name;
        ASSERT_EQ(v.messages.size(), 1u);
        EXPECT_TRUE(v.messages[0].endsWith(QLatin1Char('\n') + QString::fromStdString(path))) << c.name;
    }
    // Without "BM" but otherwise a 24-bit picture it opens, as the window reads it.
    testing_support::writeFile(dir.path("unsigned.bmp"), withByte(good, 1, 'X'));
    EXPECT_TRUE(v.open(dir.path("unsigned.bmp")));
    ASSERT_TRUE(v.open(dir.path("good.bmp")));
    const std::pair<std::filesystem::path, const char*> unopenable[] = {
        {dir.path("missing.bmp"), "ファイルまたはフォルダーが見つかりません"}, {dir.dir(), "フォルダーです"}};
    for (const auto& [missing, reason] : unopenable) {
        v.messages.clear();
        EXPECT_FALSE(v.open(missing));
        EXPECT_EQ(v.messages, std::vector<QString>{QString::fromStdString("入力ファイルを開けません（" + std::string(reason)
                                                                          + "）\n" + missing.string())});
    }
    // Still the good picture, still answering.
    EXPECT_EQ(v.window.picture()->path(), dir.path("good.bmp").string());
    const Pixel px = p.at(1, 2);
    EXPECT_TRUE(v.hover(1, 2).startsWith(QStringLiteral("x=1 y=2  R=%1 G=%2 B=%3").arg(px.r).arg(px.g).arg(px.b)));
}

}  // namespace
