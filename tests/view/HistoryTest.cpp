// One undo history over a season: region edits (drawn, renamed, given a role, deleted),
// the time rule and the colours are steps kept while the frames change, undone and
// redone by their keys wherever the focus is, a field's own text included; undoing back
// to what was saved takes the title's unsaved mark away.
#include "ViewerFixture.h"

#include "view/panel/ColoursSection.h"
#include "view/regions/RegionsModel.h"
#include "view/regions/RegionsSection.h"
#include "view/season/ProjectController.h"
#include "view/season/SeasonDock.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QTableWidget>
#include <QUndoStack>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

using namespace view_testing;
using testing_support::TempDir;
using Column = view::RegionsSection::Column;

QString q(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string());
}

engine::Region region(const char* name, engine::Rectangle rect, engine::RegionRole role = engine::RegionRole::Plot)
{
    engine::Region r;
    r.name = name;
    r.rect = rect;
    r.role = role;
    return r;
}

Picture frame(int k)
{
    Picture p{16, 12, {}};
    p.pixels.resize(16 * 12);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 16; ++x) {
            Pixel px{20, static_cast<std::uint8_t>(40 + x + k), static_cast<std::uint8_t>(120 - 3 * k + y)};
            if (x >= 12 && y < 4) px = {200, static_cast<std::uint8_t>(210 + x), static_cast<std::uint8_t>(220 + y)};
            p.pixels[static_cast<std::size_t>(y) * 16 + x] = px;
        }
    }
    return p;
}

// What the history restores, told apart at a glance.
struct State {
    std::string regions;
    QString time;
    double low;
    bool operator==(const State&) const = default;
};

void PrintTo(const State& s, std::ostream* out)
{
    *out << s.regions << " | " << s.time.toStdString() << " | " << s.low;
}

TEST(History, EditsKeptOverFramesAndUndoneFromAFieldWithTheTitleMark)
{
    TempDir dir;
    const auto frames = dir.path("frames");
    std::filesystem::create_directory(frames);
    const char* names[] = {"cam_20260601_080000.bmp", "cam_20260602_080000.bmp", "cam_20260603_080000.bmp",
                           "cam_20260604_080000.bmp", "cam_20260605_080000.bmp", "cam_20260606_080000.bmp"};
    int k = 0;
    for (const char* name : names) testing_support::writeFile(frames / name, testing_support::encodeBmp(frame(k++)));

    Viewer v;
    engine::RegionSet set;
    set.regions = {region("plot", {1, 1, 6, 6}), region("panel", {12, 0, 15, 3}, engine::RegionRole::White),
                   region("edge", {0, 10, 15, 11})};
    v.window.regions().setSet(set);
    ASSERT_TRUE(v.window.openFolder(q(frames)));
    view::SeasonDock& dock = *v.window.season();
    ASSERT_TRUE(dock.setTimeSource(QStringLiteral("name:cam_%Y%m%d_%H%M%S")));
    ASSERT_TRUE(v.window.project()->saveTo(q(dir.path("season.json"))));
    v.window.undoStack()->clear();
    v.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&v.window));

    auto* low = v.window.findChild<QDoubleSpinBox*>(QStringLiteral("colourLow"));
    auto* time = dock.findChild<QLineEdit*>(QStringLiteral("timeSource"));
    QTableWidget* table = v.window.regionsSection()->table();
    ASSERT_TRUE(low && time);
    const auto state = [&] {
        return State{engine::regionsJson(v.window.regions().set()), dock.timeSourceText(), low->value()};
    };
    const auto marked = [&] { return v.window.isWindowModified(); };
    const auto type = [](QWidget* field, const QString& text) {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    };
    const std::pair<const char*, std::function<void()>> edits[] = {
        {"draw", [&] {
             v.regionNames = {QStringLiteral("new")};
             v.window.setTool(view::Canvas::Tool::Region);
             QWidget* port = v.window.canvas()->viewport();
             const QPoint from = v.window.canvas()->centreOfPixel(2, 7).toPoint();
             const QPoint to = v.window.canvas()->centreOfPixel(8, 9).toPoint();
             QTest::mousePress(port, Qt::LeftButton, {}, from);
             QTest::mouseMove(port, (from + to) / 2);
             QTest::mouseMove(port, to);
             QTest::mouseRelease(port, Qt::LeftButton, {}, to);
             v.window.setTool(view::Canvas::Tool::Rectangle);
         }},
        {"rename", [&] { table->item(0, Column::Name)->setText(QStringLiteral("A1")); }},
        {"role", [&] {
             auto* role = qobject_cast<QComboBox*>(table->cellWidget(2, Column::Role));
             ASSERT_TRUE(role);
             role->setCurrentIndex(role->currentIndex() == 2 ? 1 : 2);
         }},
        {"delete", [&] {
             table->selectRow(1);
             table->setFocus();
             QTest::keyClick(table, Qt::Key_Delete);
         }},
        {"time rule", [&] { type(time, QStringLiteral("mtime")); }},
        {"colours", [&] { type(low, QStringLiteral("0.2")); }},
    };
    std::vector<State> states{state()};
    std::vector<bool> marks{marked()};
    for (const auto& [name, edit] : edits) {
        edit();
        // Every edit is followed by the next frame: the history stays.
        QTest::keyClick(v.window.canvas(), Qt::Key_PageDown);
        states.push_back(state());
        marks.push_back(marked());
        EXPECT_NE(states.back(), states[states.size() - 2]) << name;
        EXPECT_EQ(v.window.undoStack()->count(), static_cast<int>(states.size()) - 1) << name;
    }
    EXPECT_EQ(dock.currentRow(), 5);
    EXPECT_TRUE(v.messages.empty()) << v.messages.front().toStdString();
    // The colours are not the project's: only the edits before them mark it.
    EXPECT_EQ(marks, std::vector<bool>({false, true, true, true, true, true, true}));

    // Undone with the focus in a line edit, then in a spin box: the fields do not keep
    // the keys for their own text.
    for (std::size_t i = states.size() - 1; i > 0; --i) {
        QWidget* field = i % 2 ? static_cast<QWidget*>(time) : low;
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(state(), states[i - 1]) << "undo of " << edits[i - 1].first;
        EXPECT_EQ(marked(), marks[i - 1]) << "undo of " << edits[i - 1].first;
    }
    EXPECT_EQ(v.window.windowHandle()->title().contains(QLatin1Char('*')), false);
    for (std::size_t i = 1; i < states.size(); ++i) {
        QWidget* field = i % 2 ? static_cast<QWidget*>(low) : time;
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(state(), states[i]) << "redo of " << edits[i - 1].first;
        EXPECT_EQ(marked(), marks[i]) << "redo of " << edits[i - 1].first;
    }
}

}  // namespace
