// zrvimage-view [--white NIR,RED] [--select X1,Y1,X2,Y2] [FILE]
#include "view/CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    QStringList arguments;
    QString error;  // the start of the message; empty when the line is good
};

TEST(CommandLineTest, GoodLinesGiveTheirValues)
{
    const auto c = view::parseCommandLine({"--white", "243,238", "--select=-5,10,40,30", "frame.bmp"});
    ASSERT_TRUE(c.error.isEmpty()) << c.error.toStdString();
    ASSERT_TRUE(c.white);
    EXPECT_EQ(c.white->nir, 243);
    EXPECT_EQ(c.white->red, 238);
    ASSERT_TRUE(c.select);
    EXPECT_EQ(c.select->x1, -5);
    EXPECT_EQ(c.select->y1, 10);
    EXPECT_EQ(c.select->x2, 40);
    EXPECT_EQ(c.select->y2, 30);
    EXPECT_EQ(c.file, QStringLiteral("frame.bmp"));

    const auto empty = view::parseCommandLine({});
    EXPECT_TRUE(empty.error.isEmpty());
    EXPECT_FALSE(empty.white || empty.select || !empty.file.isEmpty() || empty.help);
    EXPECT_TRUE(view::parseCommandLine({"--help"}).help);
    EXPECT_TRUE(view::parseCommandLine({"--version"}).version);
}

TEST(CommandLineTest, BadLinesAreRefusedWithTheReason)
{
    const Case cases[] = {
        {{"--white", "0,238"}, "--white には NIR,RED を 1〜255 の整数2つで指定してください: '0,238'"},
        {{"--white", "243,256"}, "--white には"},
        {{"--white", "243"}, "--white には"},
        {{"--white", "a,b"}, "--white には"},
        {{"--white"}, "--white の値がありません"},
        {{"--select", "1,2,3"}, "--select には X1,Y1,X2,Y2 を整数4つで指定してください: '1,2,3'"},
        {{"--select", "10,2,3,4"}, "--select の範囲は X1≦X2、Y1≦Y2 で指定してください: '10,2,3,4'"},
        {{"--select", "1,20,3,4"}, "--select の範囲は"},
        {{"--zoom", "2"}, "不明なオプションです: --zoom"},
        {{"a.bmp", "b.bmp"}, "開けるファイルは1つです: b.bmp"},
    };
    for (const Case& c : cases) {
        const auto parsed = view::parseCommandLine(c.arguments);
        EXPECT_TRUE(parsed.error.startsWith(c.error)) << c.arguments.join(' ').toStdString() << " -> "
                                                      << parsed.error.toStdString();
    }
}

}  // namespace
