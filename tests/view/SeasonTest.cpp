// A season in the viewer: a folder's frames listed by time, stepped with PageDown and
// PageUp under the same regions, charted in the background with the engine's figures,
// a click on the chart opening its frame, a bad frame reported beside the others, and
// the table exported as zrvimage-batch series writes it.
#include "ViewerFixture.h"

#include "batch/Runner.h"
#include "engine/formats/PictureReader.h"
#include "engine/season/Season.h"
#include "view/regions/RegionsModel.h"
#include "view/season/SeasonChart.h"
#include "view/season/SeasonDock.h"

#include <QAreaSeries>
#include <QChart>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QScatterSeries>
#include <QSettings>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <sstream>

namespace {

using namespace view_testing;
using testing_support::readFile;
using testing_support::TempDir;

engine::Region region(const char* name, engine::Rectangle rect, engine::RegionRole role = engine::RegionRole::Plot)
{
    engine::Region r;
    r.name = name;
    r.rect = rect;
    r.role = role;
    return r;
}

engine::RegionSet plotsAndPanel()
{
    engine::RegionSet set;
    set.regions.push_back(region("A1", {2, 2, 11, 9}));
    engine::Region a2 = region("A2", {0, 0, 0, 0});
    a2.polygon = {{20, 2}, {37, 2}, {28, 15}};
    set.regions.push_back(a2);
    set.regions.push_back(region("panel", {2, 20, 9, 27}, engine::RegionRole::White));
    return set;
}

// Frame k: plots that grow and a panel that dims, bytes varied across each region so
// that the percentiles differ from the mean.
Picture frame(int k)
{
    Picture p{40, 30, {}};
    p.pixels.resize(40 * 30);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const int spread = (x * 7 + y * 3) % 11;
            Pixel px{10, 60, 90};
            if (x < 20 && y < 12) px = {10, static_cast<std::uint8_t>(50 + spread), static_cast<std::uint8_t>(100 + 15 * k + spread)};
            if (x >= 20 && y < 16) px = {10, static_cast<std::uint8_t>(70 - 4 * k), static_cast<std::uint8_t>(80 + 10 * k + 2 * spread)};
            if (x < 12 && y >= 20) px = {200, static_cast<std::uint8_t>(220 - 8 * k + spread % 3), static_cast<std::uint8_t>(230 - 8 * k)};
            p.pixels[static_cast<std::size_t>(y) * 40 + x] = px;
        }
    }
    return p;
}

// A folder of frames whose names and times disagree: listed by time, f2 and f4 at the
// same second by name.
struct Season {
    TempDir dir;
    std::vector<std::filesystem::path> byTime;

    explicit Season(bool withBadFrame = false)
    {
        const auto base = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 30);
        const auto day = [&](int d) { return base + std::chrono::hours(24 * d) + std::chrono::minutes(7); };
        const std::pair<const char*, int> files[] = {{"f1.bmp", 2}, {"f2.BMP", 5}, {"f3.bmp", 1}, {"f4.bmp", 5}};
        int k = 0;
        for (const auto& [name, d] : files) {
            testing_support::writeFile(dir.path(name), testing_support::encodeBmp(frame(k++)));
            std::filesystem::last_write_time(dir.path(name), day(d));
        }
        testing_support::writeFile(dir.path("notes.txt"), {'n'});
        byTime = {dir.path("f3.bmp"), dir.path("f1.bmp"), dir.path("f2.BMP"), dir.path("f4.bmp")};
        if (withBadFrame) {
            testing_support::writeFile(dir.path("f0.bmp"), {'n', 'o', 't', ' ', 'a', ' ', 'B', 'M', 'P'});
            std::filesystem::last_write_time(dir.path("f0.bmp"), day(3));
        }
    }
};

QString q(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string());
}

QStringList paths(const std::vector<view::SeasonEntry>& entries)
{
    QStringList list;
    for (const auto& e : entries) list << e.path;
    return list;
}

QStringList paths(const std::vector<std::filesystem::path>& files)
{
    QStringList list;
    for (const auto& f : files) list << q(f);
    return list;
}

// The engine's figures of each frame, read apart from the viewer.
std::vector<engine::SeasonFrame> engineFrames(const std::vector<std::filesystem::path>& files,
                                              const engine::RegionSet& set, const view::ViewerWindow& window)
{
    const engine::SeasonSettings settings = view::seasonSettingsFor(set, window.model(), window.whiteFrom());
    std::vector<engine::SeasonFrame> frames;
    for (const auto& f : files) {
        engine::PictureReader reader = engine::PictureReader::open(f.string());
        reader.require24Bit(engine::PictureReader::Signature::Names);
        frames.push_back({f.string(), engine::frameTime(f.string(), {}), engine::seasonFrameFigures(reader, set, settings)});
    }
    return frames;
}

template <class Series>
Series* seriesNamed(QChart* chart, const QString& name)
{
    for (QAbstractSeries* s : chart->series()) {
        if (auto* typed = qobject_cast<Series*>(s); typed && typed->name() == name) return typed;
    }
    return nullptr;
}

QString openPath(const Viewer& v)
{
    return v.window.picture() ? QString::fromStdString(v.window.picture()->path()) : QString();
}

TEST(SeasonTest, FramesListedByTimeThenNameAndSteppedWithTheRegionsKept)
{
    Season s;
    Viewer v;
    v.window.regions().setSet(plotsAndPanel());
    ASSERT_TRUE(v.window.openFolder(q(s.dir.dir())));
    view::SeasonDock& dock = *v.window.season();
    EXPECT_EQ(paths(dock.entries()), paths(s.byTime));
    EXPECT_EQ(openPath(v), q(s.byTime[0]));
    EXPECT_EQ(dock.currentRow(), 0);

    v.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&v.window));
    const std::string regions = engine::regionsJson(v.window.regions().set());
    // Key, expected row: past either end nothing changes.
    const std::pair<Qt::Key, int> steps[] = {{Qt::Key_PageUp, 0},   {Qt::Key_PageDown, 1}, {Qt::Key_PageDown, 2},
                                             {Qt::Key_PageDown, 3}, {Qt::Key_PageDown, 3}, {Qt::Key_PageUp, 2}};
    for (const auto& [key, row] : steps) {
        QTest::keyClick(v.window.canvas(), key);
        EXPECT_EQ(openPath(v), q(s.byTime[static_cast<std::size_t>(row)])) << row;
        EXPECT_EQ(dock.currentRow(), row);
        EXPECT_EQ(engine::regionsJson(v.window.regions().set()), regions);
    }
    // A frame opened otherwise becomes the current row.
    ASSERT_TRUE(v.open(s.byTime[0]));
    EXPECT_EQ(dock.currentRow(), 0);

    // Times from the names: none matches this pattern but f1 and f3's, so the others are
    // listed after them with the reason.
    std::filesystem::rename(s.dir.path("f1.bmp"), s.dir.path("cam_20260601_0830.bmp"));
    std::filesystem::rename(s.dir.path("f3.bmp"), s.dir.path("cam_20260531_2359.bmp"));
    ASSERT_TRUE(dock.setTimeSource(QStringLiteral("name:cam_%Y%m%d_%H%M")));
    const auto& e = dock.entries();
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].time, "2026-05-31T23:59:00");
    EXPECT_EQ(e[1].time, "2026-06-01T08:30:00");
    EXPECT_EQ(paths(e).mid(2), QStringList({q(s.dir.path("f2.BMP")), q(s.dir.path("f4.bmp"))}));
    EXPECT_TRUE(e[2].time.empty() && !e[2].problem.isEmpty());
    EXPECT_FALSE(dock.setTimeSource(QStringLiteral("when")));
}

TEST(SeasonTest, ChartHoldsTheEngineFiguresAndTheTableIsTheSeriesOne)
{
    Season s;
    Viewer v;
    const engine::RegionSet set = plotsAndPanel();
    v.window.regions().setSet(set);
    ASSERT_TRUE(v.window.openFolder(q(s.dir.dir())));
    view::SeasonDock& dock = *v.window.season();
    waitForChart(dock);
    ASSERT_TRUE(dock.complete());

    const std::vector<engine::SeasonFrame> expected = engineFrames(s.byTime, set, v.window);
    for (std::size_t plot = 0; plot < 2; ++plot) {
        const QString name = QString::fromStdString(set.regions[plot].name);
        auto* mean = seriesNamed<QLineSeries>(dock.chart(), name);
        auto* band = seriesNamed<QAreaSeries>(dock.chart(), name + QStringLiteral(" p05–p95"));
        ASSERT_TRUE(mean && band) << plot;
        ASSERT_EQ(mean->count(), 4);
        for (int i = 0; i < 4; ++i) {
            const engine::RegionFigures& f = expected[static_cast<std::size_t>(i)].figures.plots[plot];
            const double x = static_cast<double>(*view::chartTime(expected[static_cast<std::size_t>(i)].time));
            EXPECT_EQ(mean->at(i), QPointF(x, *f.mean)) << plot << ' ' << i;
            EXPECT_EQ(band->upperSeries()->at(i), QPointF(x, *f.p95));
            EXPECT_EQ(band->lowerSeries()->at(i), QPointF(x, *f.p05));
        }
    }
    // The panel dims from frame to frame: each frame had its own white values.
    EXPECT_NE(expected[0].figures.model.nir.dnWhite, expected[1].figures.model.nir.dnWhite);

    std::string table = engine::seasonCsvHeader();
    for (const auto& f : expected) table += engine::seasonCsvRows(f, set);
    ASSERT_TRUE(v.window.exportSeasonTable(q(s.dir.path("season.csv"))));
    const auto csv = readFile(s.dir.path("season.csv"));
    EXPECT_EQ(std::string(csv.begin(), csv.end()), table);
    // And zrvimage-batch series on the same frames, named as the viewer lists them.
    engine::writeRegionsFile(s.dir.path("regions.json").string(), set);
    std::vector<std::string> args = {"series"};
    for (const auto& f : s.byTime) args.push_back(f.string());
    args.insert(args.end(), {"--regions", s.dir.path("regions.json").string(), "--csv", s.dir.path("batch.csv").string()});
    std::ostringstream out, err;
    ASSERT_EQ(batch::run(args, out, err, false), 0) << err.str();
    EXPECT_EQ(readFile(s.dir.path("batch.csv")), csv);

    ASSERT_TRUE(v.window.exportSeasonChart(q(s.dir.path("season.png"))));
    const QImage png(q(s.dir.path("season.png")), "PNG");
    EXPECT_EQ(png.size(), QSize(1600, 900));

    // A click on a point, a little beside it, opens its frame.
    auto* a1 = seriesNamed<QLineSeries>(dock.chart(), QStringLiteral("A1"));
    emit a1->clicked(a1->at(2) + QPointF(3600 * 1000, 0.01));
    EXPECT_EQ(openPath(v), q(s.byTime[2]));
    EXPECT_EQ(dock.currentRow(), 2);
}

TEST(SeasonTest, BadFrameIsListedWithItsMessageAndTheOthersCharted)
{
    Season s(true);
    Viewer v;
    const engine::RegionSet set = plotsAndPanel();
    v.window.regions().setSet(set);
    ASSERT_TRUE(v.window.openFolder(q(s.dir.dir())));
    view::SeasonDock& dock = *v.window.season();
    waitForChart(dock);
    ASSERT_TRUE(dock.complete());

    ASSERT_EQ(dock.entries().size(), 5u);
    const view::SeasonEntry& bad = dock.entries()[2];
    EXPECT_EQ(bad.path, q(s.dir.path("f0.bmp")));
    EXPECT_FALSE(bad.figures);
    EXPECT_TRUE(bad.problem.contains(QStringLiteral("f0.bmp"))) << bad.problem.toStdString();
    EXPECT_TRUE(dock.listTexts()[2].contains(bad.problem));
    EXPECT_TRUE(dock.statusText().contains(QStringLiteral("読めないフレーム 1 枚"))) << dock.statusText().toStdString();
    EXPECT_EQ(seriesNamed<QLineSeries>(dock.chart(), QStringLiteral("A1"))->count(), 4);

    // The table holds the others, and its notice says one was left out.
    std::string table = engine::seasonCsvHeader();
    for (const auto& f : engineFrames(s.byTime, set, v.window)) table += engine::seasonCsvRows(f, set);
    v.savePaths = {q(s.dir.path("season.csv"))};
    v.action(QStringLiteral("時系列の表"))->trigger();
    const auto csv = readFile(s.dir.path("season.csv"));
    EXPECT_EQ(std::string(csv.begin(), csv.end()), table);
    EXPECT_TRUE(v.window.noticeText().contains(QStringLiteral("読めないフレーム 1 枚を除く")))
        << v.window.noticeText().toStdString();
}

TEST(SeasonTest, ChartWorkedOutAgainWhenTheRegionsOrTheCalibrationChange)
{
    Season s;
    Viewer v;
    engine::RegionSet set = plotsAndPanel();
    set.regions.pop_back();  // no panel: every frame under the window's calibration
    v.window.regions().setSet(set);
    ASSERT_TRUE(v.window.openFolder(q(s.dir.dir())));
    view::SeasonDock& dock = *v.window.season();
    const auto firstMean = [&] {
        waitForChart(dock);
        const auto* a = seriesNamed<QLineSeries>(dock.chart(), QString::fromStdString(set.regions[0].name));
        return a ? a->at(0).y() : -99.0;
    };
    EXPECT_EQ(firstMean(), *engineFrames(s.byTime, set, v.window)[0].figures.plots[0].mean);

    v.window.setModel(engine::NdviModel::plain(180, 200));
    EXPECT_EQ(firstMean(), *engineFrames(s.byTime, set, v.window)[0].figures.plots[0].mean);

    ASSERT_FALSE(v.window.regions().rename(0, QStringLiteral("B1")));
    set.regions[0].name = "B1";
    EXPECT_EQ(firstMean(), *engineFrames(s.byTime, set, v.window)[0].figures.plots[0].mean);
    EXPECT_EQ(dock.csv().find("A1,"), std::string::npos);

    // Cancelled before its results are taken: they never show, nor the earlier chart.
    v.window.setModel(engine::NdviModel::plain(200, 200));
    ASSERT_TRUE(dock.busy());
    dock.cancel();
    QApplication::processEvents();
    EXPECT_FALSE(dock.busy());
    EXPECT_FALSE(dock.complete());
    EXPECT_EQ(seriesNamed<QLineSeries>(dock.chart(), QStringLiteral("B1"))->count(), 0);
    EXPECT_EQ(dock.statusText(), QStringLiteral("中止しました"));
}

}  // namespace

namespace {

// Frames dated by their names and copied together: every modification time the same.
// The second one's dark region lies over bare soil.
struct CopiedSeason {
    TempDir dir;
    engine::RegionSet set = plotsAndPanel();

    CopiedSeason()
    {
        set.regions.push_back(region("dark", {14, 20, 19, 27}, engine::RegionRole::Dark));
        const auto copied = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
        const char* names[] = {"cam_20260601_080000.bmp", "cam_20260602_080000.bmp", "cam_20260603_080000.bmp"};
        for (int k = 0; k < 3; ++k) {
            Picture p = frame(k);
            for (int y = 20; y <= 27; ++y) {
                for (int x = 14; x <= 19; ++x) {
                    const bool soil = k == 1;
                    const int spread = (x * 5 + y * 3) % 7;
                    p.pixels[static_cast<std::size_t>(y) * 40 + x] = {
                        10, static_cast<std::uint8_t>(soil ? 30 + 9 * spread : 9 + spread % 2),
                        static_cast<std::uint8_t>(soil ? 40 + 11 * spread : 11 + spread % 2)};
                }
            }
            testing_support::writeFile(dir.path(names[k]), testing_support::encodeBmp(p));
            std::filesystem::last_write_time(dir.path(names[k]), copied);
        }
    }
};

}  // namespace

TEST(SeasonTest, TheDarkTargetsFailedChecksAreMarkedAndCopiedTimesWarnedOf)
{
    CopiedSeason s;
    Viewer v;
    v.window.regions().setSet(s.set);
    ASSERT_TRUE(v.window.openFolder(q(s.dir.dir())));
    view::SeasonDock& dock = *v.window.season();
    waitForChart(dock);
    ASSERT_TRUE(dock.complete());

    // The frame whose dark region is soil is marked, its checks in the tip in the
    // engine's words; the others are not.
    const auto* list = dock.findChild<QListWidget*>(QStringLiteral("frames"));
    ASSERT_EQ(list->count(), 3);
    for (int k = 0; k < 3; ++k) {
        const auto& figures = dock.entries()[static_cast<std::size_t>(k)].figures;
        ASSERT_TRUE(figures);
        SCOPED_TRACE(k);
        EXPECT_EQ(list->item(k)->text().endsWith(QStringLiteral(" ⚠")), k == 1);
        EXPECT_EQ(list->item(k)->toolTip().contains(QStringLiteral("panel_warning 列: dark_uneven）")), k == 1)
            << list->item(k)->toolTip().toStdString();
    }
    EXPECT_TRUE(list->item(1)->toolTip().contains(QStringLiteral("暗色板の範囲の明るさが一様ではありません")));

    // All three within a second: said beside the time field, with a pattern that reads
    // their names; gone once the times come from the names.
    EXPECT_EQ(dock.timeWarningText(),
              QStringLiteral("⚠ 全 3 フレームの更新日時が 10 秒以内に収まっています。カードからのコピーなどで更新日時が撮影日時を"
                             "表していないおそれがあり、時刻と並び順は正しくないかもしれません。ファイル名の日付から時刻を読むには"
                             "時刻の欄に name:cam_%Y%m%d_%H%M%S を指定してください"));
    EXPECT_TRUE(dock.findChild<QLabel*>(QStringLiteral("seasonTimeWarning"))->isVisible());
    ASSERT_TRUE(dock.setTimeSource(QStringLiteral("name:cam_%Y%m%d_%H%M%S")));
    EXPECT_EQ(dock.timeWarningText(), QString());
    EXPECT_FALSE(dock.findChild<QLabel*>(QStringLiteral("seasonTimeWarning"))->isVisible());
}

namespace {

QStringList recentFiles()
{
    return QSettings(QStringLiteral("zrvimage"), QStringLiteral("zrvimage-view")).value(QStringLiteral("recentFiles")).toStringList();
}

TEST(SeasonTest, SteppingShowsAnUnreadableFramesReasonInPlaceAndLeavesRecentFilesAlone)
{
    Season s(true);
    Viewer v;
    v.window.regions().setSet(plotsAndPanel());
    ASSERT_TRUE(v.window.openFolder(q(s.dir.dir())));
    view::SeasonDock& dock = *v.window.season();
    EXPECT_EQ(openPath(v), q(s.byTime[0]));

    // Row, frame shown (empty: the bad one).
    const std::pair<int, QString> steps[] = {{1, q(s.byTime[1])}, {2, QString()}, {3, q(s.byTime[2])}, {2, QString()}};
    for (const auto& [row, shown] : steps) {
        SCOPED_TRACE(row);
        v.window.stepFrame(row > dock.currentRow() ? 1 : -1);
        EXPECT_EQ(dock.currentRow(), row);
        EXPECT_EQ(openPath(v), shown);
        if (shown.isEmpty()) {
            EXPECT_TRUE(v.window.frameProblem().contains(QStringLiteral("f0.bmp"))) << v.window.frameProblem().toStdString();
            EXPECT_TRUE(v.window.windowTitle().startsWith(QStringLiteral("f0.bmp"))) << v.window.windowTitle().toStdString();
            EXPECT_FALSE(v.action(QStringLiteral("表示中の画像"))->isEnabled());
        } else {
            EXPECT_EQ(v.window.frameProblem(), QString());
        }
    }
    EXPECT_TRUE(v.messages.empty()) << v.messages.front().toStdString();
    EXPECT_TRUE(recentFiles().isEmpty()) << recentFiles().join(' ').toStdString();

    // Opened by the user, the same frame says so in a box, and a good one is remembered.
    EXPECT_FALSE(v.open(s.dir.path("f0.bmp")));
    EXPECT_EQ(v.messages.size(), 1u);
    ASSERT_TRUE(v.open(s.byTime[3]));
    EXPECT_EQ(recentFiles(), QStringList{q(s.byTime[3])});
    EXPECT_EQ(v.window.frameProblem(), QString());

    // Another folder opens on its first frame, whatever row the last one was on.
    Season other;
    ASSERT_TRUE(v.window.openFolder(q(other.dir.dir())));
    EXPECT_EQ(dock.currentRow(), 0);
    EXPECT_EQ(openPath(v), q(other.byTime[0]));
}

TEST(SeasonTest, FlaggedFramesAreHollowPlotsAndBandsHiddenAndTheExportCaptioned)
{
    CopiedSeason s;
    Viewer v;
    v.window.regions().setSet(s.set);
    ASSERT_TRUE(v.window.openFolder(q(s.dir.dir())));
    view::SeasonDock& dock = *v.window.season();
    ASSERT_TRUE(dock.setTimeSource(QStringLiteral("name:cam_%Y%m%d_%H%M%S")));
    waitForChart(dock);
    ASSERT_TRUE(dock.complete());

    // The second frame's dark target failed its checks: its points alone are hollow,
    // with the engine's words in their tip.
    const double flaggedAt = static_cast<double>(*view::chartTime(dock.entries()[1].time));
    for (const char* plot : {"A1", "A2"}) {
        auto* flagged = seriesNamed<QScatterSeries>(dock.chart(), view::flaggedSeriesName(QString::fromLatin1(plot)));
        ASSERT_TRUE(flagged) << plot;
        ASSERT_EQ(flagged->count(), 1);
        EXPECT_EQ(flagged->at(0).x(), flaggedAt);
        EXPECT_EQ(flagged->brush().color(), QColor(Qt::white));
        const QStringList tips = flagged->property("tips").toStringList();
        ASSERT_EQ(tips.size(), 1);
        EXPECT_TRUE(tips[0].contains(QStringLiteral("暗色板の範囲の明るさが一様ではありません"))) << tips[0].toStdString();
        EXPECT_EQ(seriesNamed<QLineSeries>(dock.chart(), QString::fromLatin1(plot))->count(), 3);
    }

    // "使用中" tells each frame's own panel, with this frame's values.
    QLabel* inUse = nullptr;
    for (QLabel* l : v.window.findChildren<QLabel*>()) {
        if (l->accessibleName() == QStringLiteral("使用中の較正")) inUse = l;
    }
    ASSERT_TRUE(inUse);
    EXPECT_TRUE(inUse->text().startsWith(QStringLiteral("使用中: 各フレームの白色板「panel」\nNIR"))) << inUse->text().toStdString();

    // A2 and the bands hidden, as the menu hides them.
    view::ChartShown shown;
    shown.hiddenPlots = {"A2"};
    shown.bands = false;
    dock.setChartShown(shown);
    QApplication::processEvents();
    EXPECT_FALSE(seriesNamed<QLineSeries>(dock.chart(), QStringLiteral("A2")));
    EXPECT_TRUE(seriesNamed<QLineSeries>(dock.chart(), QStringLiteral("A1")));
    for (QAbstractSeries* series : dock.chart()->series()) EXPECT_FALSE(qobject_cast<QAreaSeries*>(series));

    // The export: a title, the dates with their year, the rule and the flat-field.
    const QStringList caption = dock.chartCaption();
    ASSERT_EQ(caption.size(), 4);
    EXPECT_EQ(caption[0], QStringLiteral("NDVI の推移: ") + QString::fromStdString(s.dir.dir().filename().string()));
    EXPECT_TRUE(caption[1].startsWith(QStringLiteral("2026-06-01 08:00:00 〜 2026-06-03 08:00:00（3 枚）"))) << caption[1].toStdString();
    EXPECT_TRUE(caption[1].contains(QStringLiteral("白抜きの点"))) << caption[1].toStdString();
    EXPECT_TRUE(caption[2].startsWith(QStringLiteral("各フレームの白色板「panel」（max"))) << caption[2].toStdString();
    EXPECT_TRUE(caption[2].contains(QStringLiteral("暗色板「dark」"))) << caption[2].toStdString();
    EXPECT_EQ(caption[3], QStringLiteral("周辺減光補正: なし"));
    ASSERT_TRUE(v.window.exportSeasonChart(q(s.dir.path("season.png"))));
    const QImage png(q(s.dir.path("season.png")), "PNG");
    ASSERT_EQ(png.size(), QSize(1600, 900));
    // The caption is drawn above the chart: the same chart without it differs there.
    const QImage plain = view::renderSeasonChart(dock.entries(), dock.regions(), png.size(), dock.chartShown());
    EXPECT_NE(png.copy(0, 0, 1600, 40).convertToFormat(QImage::Format_RGB32), plain.copy(0, 0, 1600, 40));
    int dark = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 800; ++x) dark += qGray(png.pixel(x, y)) < 96;
    }
    EXPECT_GT(dark, 50);
}

}  // namespace

// The chart's season curves: a plot greening up and senescing has its curve and its
// dates where the batch's phenology puts them, a frame whose panel failed is not fitted
// (a spoiled value there does not pull the curve), and a bare plot gets neither.
TEST(SeasonTest, ChartShowsEachPlotsSeasonCurveAndDatesWhenAsked)
{
    const auto logistic = [](double u) { return 1 / (1 + std::exp(-u)); };
    constexpr double kGreenup = 60, kSenescence = 160;  // days after the first frame
    const double first = *engine::phenologyDay("2026-04-01T10:00:00");
    engine::RegionSet regions;
    regions.regions = {region("crop", {0, 0, 9, 9}), region("bare", {10, 0, 19, 9})};
    std::vector<view::SeasonEntry> entries;
    for (int d = 0; d <= 220; d += 4) {
        engine::FrameFigures f;
        const double crop = 0.2 + 0.5 * (logistic((d - kGreenup) / 6.0) - logistic((d - kSenescence) / 6.0));
        for (const double v : {crop, 0.21}) {
            engine::RegionFigures r;
            r.mean = v;
            r.p05 = r.p95 = static_cast<float>(v);
            f.plots.push_back(r);
        }
        if (d == 100) {
            f.plots[0].mean = 0.05;  // a glint on the panel spoiled this frame
            f.panelWarnings = {engine::PanelCheck::Saturated};
        }
        entries.push_back({QStringLiteral("/f%1.bmp").arg(d), engine::phenologyTime(first + d), f, {}});
    }

    QChart chart;
    view::ChartShown shown;
    view::fillSeasonChart(chart, entries, regions, shown);
    const auto triangles = [&] {
        std::vector<QScatterSeries*> found;
        for (QAbstractSeries* s : chart.series()) {
            auto* t = qobject_cast<QScatterSeries*>(s);
            if (t && t->markerShape() == QScatterSeries::MarkerShapeTriangle) found.push_back(t);
        }
        return found;
    };
    EXPECT_TRUE(triangles().empty());

    shown.phenology = true;
    view::fillSeasonChart(chart, entries, regions, shown);
    const std::vector<QScatterSeries*> dates = triangles();
    ASSERT_EQ(dates.size(), 1u);  // the bare plot has no cycle
    ASSERT_EQ(dates[0]->count(), engine::kPhenologyMetrics);
    const QStringList tips = dates[0]->property("tips").toStringList();
    ASSERT_EQ(tips.size(), engine::kPhenologyMetrics);
    EXPECT_TRUE(tips[1].contains(QStringLiteral("緑化の中間"))) << tips[1].toStdString();
    constexpr double kDayMs = 86400000.0;
    const auto at = [&](double day) { return static_cast<double>(*view::chartTime(engine::phenologyTime(first + day))); };
    EXPECT_NEAR(dates[0]->at(1).x(), at(kGreenup), 3 * kDayMs);      // mid green-up
    EXPECT_NEAR(dates[0]->at(5).x(), at(kSenescence), 3 * kDayMs);   // mid senescence
    EXPECT_NEAR(dates[0]->at(3).y(), 0.7, 0.02);                     // the peak's value
}
