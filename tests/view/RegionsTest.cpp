// Regions in the window: drawn with the mouse, named, saved and opened again, and
// measured in the side panel by the engine's season rules.
#include "ViewerFixture.h"

#include "engine/season/Regions.h"
#include "engine/season/Season.h"
#include "view/regions/RegionsModel.h"
#include "view/regions/RegionsSection.h"

#include <QComboBox>
#include <QTableWidget>

#include <gtest/gtest.h>

namespace {

using namespace view_testing;
using engine::Region;
using engine::RegionRole;
using engine::Vertex;
using Column = view::RegionsSection::Column;

// 40 x 30, bands that change across the picture, a white panel (about 200 and 180) at
// 30..35, 2..6, a saturated pixel and two pixels with no NDVI in the plots' part.
Picture seasonFrame()
{
    Picture p;
    p.width = 40;
    p.height = 30;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            p.pixels.push_back({static_cast<std::uint8_t>(x * y % 256), static_cast<std::uint8_t>(10 + 2 * y + x % 3),
                                static_cast<std::uint8_t>(20 + 3 * x + y % 5)});
        }
    }
    const auto set = [&](int x, int y, Pixel v) { p.pixels[static_cast<std::size_t>(y * p.width + x)] = v; };
    for (int y = 2; y <= 6; ++y) {
        for (int x = 30; x <= 35; ++x) set(x, y, {90, static_cast<std::uint8_t>(179 + (x + y) % 3), static_cast<std::uint8_t>(198 + x % 4)});
    }
    set(4, 5, {0, 0, 255});
    set(6, 6, {0, 0, 0});
    set(7, 6, {0, 0, 0});
    return p;
}

Region rect(const char* name, engine::Rectangle r, RegionRole role = RegionRole::Plot)
{
    Region region;
    region.name = name;
    region.rect = r;
    region.role = role;
    return region;
}

Region polygon(const char* name, std::vector<Vertex> vertices)
{
    Region region;
    region.name = name;
    region.polygon = std::move(vertices);
    return region;
}

void expectSameSet(const engine::RegionSet& a, const engine::RegionSet& b)
{
    ASSERT_EQ(a.regions.size(), b.regions.size());
    for (std::size_t i = 0; i < a.regions.size(); ++i) {
        const Region& r = a.regions[i];
        const Region& s = b.regions[i];
        EXPECT_EQ(r.name, s.name);
        EXPECT_EQ(r.role, s.role) << r.name;
        EXPECT_EQ(r.polygon, s.polygon) << r.name;
        if (!r.isPolygon()) {
            EXPECT_EQ(std::tie(r.rect.x1, r.rect.y1, r.rect.x2, r.rect.y2),
                      std::tie(s.rect.x1, s.rect.y1, s.rect.x2, s.rect.y2))
                << r.name;
        }
    }
}

struct RegionsViewer : Viewer {
    testing_support::TempDir dir;
    Picture picture = seasonFrame();

    RegionsViewer()
    {
        testing_support::writeFile(dir.path("f.bmp"), testing_support::encodeBmp(picture));
        EXPECT_TRUE(open(dir.path("f.bmp")));
    }

    view::RegionsModel& regions() { return window.regions(); }
    view::Canvas* canvas() { return window.canvas(); }
    QWidget* viewport() { return window.canvas()->viewport(); }

    // The viewport point of a picture point (pixel x spans x .. x + 1).
    QPoint at(double x, double y)
    {
        const double z = canvas()->zoom();
        return (canvas()->centreOfPixel(0, 0) + QPointF((x - 0.5) * z, (y - 0.5) * z)).toPoint();
    }

    void drag(QPoint from, QPoint to)
    {
        QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(viewport(), (from + to) / 2);
        QTest::mouseMove(viewport(), to);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, to);
    }

    // As the window system delivers one: a click, then the second press as a double-click.
    void doubleClick(QPoint at)
    {
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at);
    }

    QString cell(int row, Column column)
    {
        const QTableWidgetItem* item = window.regionsSection()->table()->item(row, column);
        return item ? item->text() : QString();
    }
};

TEST(RegionDrawing, RectanglesAndPolygonsByMouseAtAKnownZoom)
{
    RegionsViewer v;
    v.canvas()->zoomAbout(4.0, QPointF(v.viewport()->width() / 2.0, v.viewport()->height() / 2.0));
    ASSERT_EQ(v.canvas()->zoom(), 4.0);
    QAction* tool = v.action(QStringLiteral("領域を描く"));
    ASSERT_NE(tool, nullptr);
    tool->trigger();
    ASSERT_EQ(v.canvas()->tool(), view::Canvas::Tool::Region);

    // A drag: whole pixels from corner to corner, as the rectangle selects them.
    v.regionNames = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    v.drag(v.at(10.75, 8.75), v.at(3.25, 4.25));
    // Clicks: vertices in quarter pixels at 4x, closed by a double-click on the last.
    QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, v.at(14.5, 2));
    QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, v.at(28, 4.25));
    v.doubleClick(v.at(20.75, 20.5));
    // Or by Enter; Backspace takes back a vertex, Esc drops a polygon unasked.
    QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, v.at(1, 20));
    QTest::keyClick(v.canvas(), Qt::Key_Escape);
    for (const auto& [x, y] : {std::pair{1.0, 20.0}, {5.0, 29.0}, {9.0, 9.0}, {1.0, 28.0}}) {
        QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, v.at(x, y));
    }
    QTest::keyClick(v.canvas(), Qt::Key_Backspace);
    QTest::keyClick(v.canvas(), Qt::Key_Return);

    engine::RegionSet expected;
    expected.regions = {rect("A", {3, 4, 10, 8}),
                        polygon("B", {{14.5, 2}, {28, 4.25}, {20.75, 20.5}}),
                        polygon("C", {{1, 20}, {5, 29}, {9, 9}})};
    expectSameSet(v.regions().set(), expected);
    EXPECT_EQ(v.proposedNames, (std::vector<QString>{"R1", "R1", "R1"}));
    EXPECT_TRUE(v.canvas()->pendingPolygon().empty());
    EXPECT_FALSE(v.canvas()->selection());  // the rectangle tool's own is untouched

    // Back to the rectangle: a drag selects again.
    tool->trigger();
    v.drag(v.at(1.5, 1.5), v.at(4.5, 3.5));
    ASSERT_TRUE(v.canvas()->selection());
    EXPECT_EQ(v.regions().size(), 3u);
}

TEST(RegionDrawing, NamesAreProposedAndATakenOneIsRefused)
{
    RegionsViewer v;
    v.window.setTool(view::Canvas::Tool::Region);
    v.regionNames = {QStringLiteral(" plot "), QStringLiteral("plot"), QString(), QStringLiteral("R1")};
    v.drag(v.at(2, 2), v.at(5, 5));
    v.drag(v.at(8, 2), v.at(12, 5));
    // Taken, then empty: each refused with a message and asked again.
    EXPECT_EQ(v.proposedNames, (std::vector<QString>{"R1", "R1", "plot", "plot"}));
    ASSERT_EQ(v.messages.size(), 2u);
    EXPECT_TRUE(v.messages[0].contains(QStringLiteral("plot")));
    ASSERT_EQ(v.regions().size(), 2u);
    EXPECT_EQ(v.regions().at(0).name, "plot");
    EXPECT_EQ(v.regions().at(1).name, "R1");

    // Cancelled: nothing added. Renamed in the table onto a taken name: refused.
    v.drag(v.at(20, 20), v.at(25, 25));
    EXPECT_EQ(v.regions().size(), 2u);
    v.window.regionsSection()->table()->item(1, Column::Name)->setText(QStringLiteral("plot"));
    QApplication::processEvents();
    EXPECT_EQ(v.regions().at(1).name, "R1");
    EXPECT_EQ(v.cell(1, Column::Name), QStringLiteral("R1"));
    EXPECT_EQ(v.messages.size(), 3u);
    v.window.regionsSection()->table()->item(1, Column::Name)->setText(QStringLiteral("B7"));
    EXPECT_EQ(v.regions().at(1).name, "B7");
}

TEST(RegionsFile, SavedAndOpenedAgainEqualAndABadFileRefusedWithItsMessage)
{
    RegionsViewer v;
    engine::RegionSet set;
    set.regions = {rect("A1", {2, 3, 12, 9}), polygon("A2", {{14.5, 2}, {28, 4.25}, {20, 20.5}}),
                   rect("panel", {30, 2, 35, 6}, RegionRole::White), rect("dark", {0, 25, 3, 29}, RegionRole::Dark)};
    v.regions().setSet(set);

    const QString saved = QString::fromStdString(v.dir.path("regions.json").string());
    v.savePaths = {saved};
    v.action(QStringLiteral("領域を保存…"))->trigger();
    EXPECT_TRUE(v.messages.empty()) << v.messages.front().toStdString();
    v.regions().setSet({});
    v.regionsPaths = {saved};
    v.action(QStringLiteral("領域を開く…"))->trigger();
    expectSameSet(v.regions().set(), set);

    // Never over the open picture.
    EXPECT_FALSE(v.window.saveRegions(QString::fromStdString(v.dir.path("f.bmp").string())));
    ASSERT_EQ(v.messages.size(), 1u);

    const auto bad = v.dir.path("bad.json");
    testing_support::writeFile(bad, {'{', '"', 'r', 'e', 'g', 'i', 'o', 'n', 's', '"', ':', '[', '{', '"', 'n', 'a',
                                     'm', 'e', '"', ':', '"', 'X', '"', '}', ']', '}'});
    std::string refusal;
    try {
        engine::readRegionsFile(bad.string());
    } catch (const engine::RegionsError& e) {
        refusal = e.what();
    }
    ASSERT_FALSE(refusal.empty());
    EXPECT_FALSE(v.window.openRegions(QString::fromStdString(bad.string())));
    ASSERT_EQ(v.messages.size(), 2u);
    EXPECT_EQ(v.messages.back(), QString::fromStdString(refusal));
    expectSameSet(v.regions().set(), set);  // kept as it was
}

// Each plot row against the engine's own figures of the frame, under the calibration
// the window would use for these regions.
void expectPlotRowsFromTheEngine(RegionsViewer& v)
{
    const engine::RegionSet& set = v.regions().set();
    engine::RegionSet inside;
    std::vector<int> rows;
    for (std::size_t i = 0; i < set.regions.size(); ++i) {
        if (!engine::regionInside(set.regions[i], v.picture.width, v.picture.height)) continue;
        inside.regions.push_back(set.regions[i]);
        if (set.regions[i].role == RegionRole::Plot) rows.push_back(static_cast<int>(i));
    }
    const auto rowBytes = [&](std::int64_t y) {
        return reinterpret_cast<const std::uint8_t*>(&v.picture.pixels[static_cast<std::size_t>(y) * v.picture.width]);
    };
    const engine::FrameFigures expected = engine::seasonFrameFigures(
        v.picture.width, v.picture.height, rowBytes, "f.bmp", inside,
        view::seasonSettingsFor(set, v.window.model(), v.window.whiteFrom()));
    ASSERT_EQ(expected.plots.size(), rows.size());
    const auto text = [](auto v) { return v ? QString::number(static_cast<double>(*v), 'f', 4) : QStringLiteral("-"); };
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const engine::RegionFigures& f = expected.plots[k];
        const int r = rows[k];
        SCOPED_TRACE(set.regions[static_cast<std::size_t>(r)].name);
        EXPECT_EQ(v.cell(r, Column::Pixels), QString::number(f.pixels));
        EXPECT_EQ(v.cell(r, Column::Mean), text(f.mean));
        EXPECT_EQ(v.cell(r, Column::Std), text(f.stddev));
        EXPECT_EQ(v.cell(r, Column::P05), text(f.p05));
        EXPECT_EQ(v.cell(r, Column::Median), text(f.median));
        EXPECT_EQ(v.cell(r, Column::P95), text(f.p95));
        EXPECT_EQ(v.cell(r, Column::Nodata), QString::number(f.nodata));
        EXPECT_EQ(v.cell(r, Column::Saturated), QString::number(f.saturated));
    }
}

TEST(RegionsTable, TheDarkTargetsFailedChecksAreSaidUnderTheModel)
{
    RegionsViewer v;
    engine::RegionSet set;
    // The dark region over the frame's varied bands: no dark target there.
    set.regions = {rect("A", {2, 3, 12, 9}), rect("panel", {30, 2, 35, 6}, RegionRole::White),
                   rect("dark", {0, 20, 9, 29}, RegionRole::Dark)};
    v.regions().setSet(set);
    expectPlotRowsFromTheEngine(v);
    const QStringList lines = v.window.regionsSection()->statusText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2) << v.window.regionsSection()->statusText().toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("この画像の白色板による較正")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("暗色板の範囲の明るさが一様ではありません（NIR 平均 "))) << lines[1].toStdString();

    // Over the white panel itself: even, but as bright as the panel.
    set.regions[2].rect = {31, 3, 34, 5};
    v.regions().setSet(set);
    expectPlotRowsFromTheEngine(v);
    const QStringList over = v.window.regionsSection()->statusText().split(QLatin1Char('\n'));
    ASSERT_EQ(over.size(), 2) << v.window.regionsSection()->statusText().toStdString();
    EXPECT_TRUE(over[1].startsWith(QStringLiteral("暗色板の値が白色板の値の半分を超えています"))) << over[1].toStdString();
}

TEST(RegionsTable, FiguresAreTheEnginesAndFollowRolesCalibrationAndDeletion)
{
    RegionsViewer v;
    engine::RegionSet set;
    set.regions = {rect("A", {2, 3, 12, 9}), polygon("B", {{14.5, 2}, {28, 4.25}, {20, 20.5}}),
                   rect("panel", {30, 2, 35, 6}, RegionRole::White), rect("far", {35, 25, 45, 29})};
    v.regions().setSet(set);

    // The frame's own panel; the region past the right edge marked, not measured.
    expectPlotRowsFromTheEngine(v);
    EXPECT_EQ(v.cell(0, Column::Saturated), QStringLiteral("1"));
    EXPECT_EQ(v.cell(0, Column::Nodata), QStringLiteral("2"));
    EXPECT_EQ(v.cell(2, Column::Pixels), QStringLiteral("30"));
    EXPECT_EQ(v.cell(3, Column::Pixels), QStringLiteral("画像の外"));
    EXPECT_TRUE(v.window.regionsSection()->statusText().startsWith(QStringLiteral("この画像の白色板による較正")));
    // The panel's white rule is the side panel's: another rule, another table.
    const QString byMaximum = v.cell(0, Column::Mean);
    v.window.setWhiteChoice(engine::WhiteFrom::Mean);
    expectPlotRowsFromTheEngine(v);
    EXPECT_NE(v.cell(0, Column::Mean), byMaximum);
    const QString ownMean = v.cell(0, Column::Mean);

    // The panel made a plot through its row's combo: the window's model, fixed.
    auto* role = qobject_cast<QComboBox*>(v.window.regionsSection()->table()->cellWidget(2, Column::Role));
    ASSERT_NE(role, nullptr);
    EXPECT_EQ(role->currentText(), QStringLiteral("白色板"));
    role->setCurrentIndex(0);
    EXPECT_EQ(v.regions().at(2).role, RegionRole::Plot);
    expectPlotRowsFromTheEngine(v);
    EXPECT_NE(v.cell(0, Column::Mean), ownMean);
    EXPECT_TRUE(v.window.regionsSection()->statusText().startsWith(QStringLiteral("較正: ")));

    // A new calibration, a new table.
    v.window.setModel(engine::NdviModel::plain(150, 120));
    expectPlotRowsFromTheEngine(v);

    // The row selected is the region highlighted; Delete removes it.
    QTableWidget* table = v.window.regionsSection()->table();
    table->selectRow(1);
    EXPECT_EQ(v.regions().selected(), 1u);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Delete);
    ASSERT_EQ(v.regions().size(), 3u);
    EXPECT_EQ(v.regions().at(1).name, "panel");
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(v.cell(1, Column::Name), QStringLiteral("panel"));
    expectPlotRowsFromTheEngine(v);
}

}  // namespace
