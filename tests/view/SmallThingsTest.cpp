// Exports onto the open picture, the recent files' folders, and the legend's labels.
#include "ViewerFixture.h"

#include "engine/platform/Messages.h"
#include "view/ColourScale.h"

#include <QFontMetrics>
#include <QMenu>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace {

using namespace view_testing;

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(ExportChoiceTest, TheOpenPictureIsRefusedBeforeAnyQuestionAndOtherFilesAreAskedAbout)
{
    testing_support::TempDir dir;
    const auto frame = dir.path("frame.bmp");
    testing_support::writeFile(frame, testing_support::encodeBmp(testing_support::asymmetricPicture(6, 5)));
    std::filesystem::create_symlink(frame, dir.path("link.png"));
    std::filesystem::create_symlink(frame, dir.path("other.hdr"));  // the raster's header would be the picture
    const auto before = readFile(frame);
    Viewer v;
    ASSERT_TRUE(v.open(frame));
    v.window.selectArea(engine::Rectangle{0, 0, 3, 3});
    const auto path = [&](const char* name) { return QString::fromStdString(dir.path(name).string()); };
    const std::pair<const char*, const char*> refused[] = {
        {"NDVIラスター", "frame.bmp"}, {"NDVIラスター", "other.raw"}, {"NDVI（TIFF", "frame.bmp"},
        {"表示中の画像", "link.png"},  {"範囲の数値（CSV）", "frame.bmp"}};
    for (const auto& [menu, name] : refused) {
        v.messages.clear();
        v.confirmations = {true};
        v.savePaths = {path(name)};
        v.action(QString::fromUtf8(menu))->trigger();
        EXPECT_TRUE(v.questions.empty()) << menu << " " << name;
        EXPECT_EQ(v.messages, std::vector<QString>{QString::fromUtf8(engine::kOutputIsInput)}) << menu << " " << name;
    }
    EXPECT_EQ(readFile(frame), before);
    EXPECT_FALSE(std::filesystem::exists(dir.path("other.raw")));

    // Any other file is replaced only when the user agrees.
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};
    const std::pair<const char*, const char*> others[] = {{"範囲の数値（CSV）", "old.csv"}, {"較正を保存", "old.json"}};
    for (const auto& [menu, name] : others) {
        testing_support::writeFile(dir.path(name), old);
        for (bool agree : {false, true}) {
            v.messages.clear();
            v.questions.clear();
            v.confirmations = {agree};
            v.savePaths = {path(name)};
            v.action(QString::fromUtf8(menu))->trigger();
            EXPECT_EQ(v.questions, std::vector<QString>{path(name) + QStringLiteral(" は既に存在します。置き換えますか？")}) << menu;
            EXPECT_TRUE(v.messages.empty()) << menu;
            EXPECT_EQ(readFile(dir.path(name)) == old, !agree) << menu;
        }
    }
}

TEST(RecentFilesTest, EntriesNameTheirFolder)
{
    testing_support::TempDir dir;
    std::filesystem::create_directories(dir.path("day 1"));
    std::filesystem::create_directories(dir.path("day&2"));
    const auto bytes = testing_support::encodeBmp(testing_support::asymmetricPicture(4, 3));
    testing_support::writeFile(dir.path("day 1") / "frame.bmp", bytes);
    testing_support::writeFile(dir.path("day&2") / "frame.bmp", bytes);
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("day 1") / "frame.bmp"));
    ASSERT_TRUE(v.open(dir.path("day&2") / "frame.bmp"));
    QMenu* recent = nullptr;
    for (QMenu* m : v.window.findChildren<QMenu*>()) {
        if (m->title().startsWith(QStringLiteral("最近使ったファイル"))) recent = m;
    }
    ASSERT_NE(recent, nullptr);
    const QString folder = QString::fromStdString(dir.dir().string());
    std::vector<QString> texts;
    for (QAction* a : recent->actions()) texts.push_back(a->text());
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], QStringLiteral("&1 frame.bmp（%1/day&&2）").arg(folder));
    EXPECT_EQ(texts[1], QStringLiteral("&2 frame.bmp（%1/day 1）").arg(folder));
}

// Labels never overlap, whatever the width; the ends are always there, and a wide
// legend has round values between them.
TEST(LegendTest, TicksThatDoNotFitAreDropped)
{
    const QFontMetrics metrics(QApplication::font());
    const std::pair<double, double> ranges[] = {{-1.0, 1.0}, {0.0, 0.8}, {-0.15, 0.93}, {0.2, 0.2001}};
    for (const auto& [low, high] : ranges) {
        for (int width : {2, 40, 120, 300, 420, 900}) {
            const auto ticks = view::legendTicks(low, high, 10, width, metrics);
            ASSERT_GE(ticks.size(), 1u);
            EXPECT_EQ(ticks.front().x, 10) << low << ".." << high << " at " << width;
            for (std::size_t i = 1; i < ticks.size(); ++i) {
                EXPECT_LT(ticks[i - 1].label.right(), ticks[i].label.left())
                    << low << ".." << high << " at " << width << ": " << ticks[i - 1].text.toStdString() << " "
                    << ticks[i].text.toStdString();
            }
            if (width >= 300) {
                EXPECT_EQ(ticks.back().x, 10 + width - 1) << low << ".." << high << " at " << width;
            }
            if (width == 900 && high - low > 0.5) {
                EXPECT_GE(ticks.size(), 3u) << low << ".." << high;
            }
        }
    }
}

}  // namespace
