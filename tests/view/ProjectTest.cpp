// A season project in the viewer: saved and opened again with the same frames, time
// rule, regions and calibration; opened from a file name, a drop and the recent files;
// the unsaved mark in the title; the question before closing or leaving the season,
// whose キャンセル keeps everything; a save that fails is not taken for saved.
#include "ModalDriver.h"
#include "ViewerFixture.h"

#include "batch/Runner.h"
#include "engine/calibration/CalibrationFile.h"
#include "engine/calibration/FlatField.h"
#include "engine/season/SeasonProject.h"
#include "view/regions/RegionsModel.h"
#include "view/season/ProjectController.h"
#include "view/season/SeasonDock.h"

#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QWindow>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <sstream>

namespace {

using namespace view_testing;
using testing_support::TempDir;

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

// A plot, a white panel and a dark target on a 13 x 9 frame; frame k dims the plot.
Picture frame(int k)
{
    Picture p{13, 9, {}};
    p.pixels.resize(13 * 9);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 13; ++x) {
            Pixel px{20, static_cast<std::uint8_t>(40 + x + k), static_cast<std::uint8_t>(120 - 3 * k + y)};
            if (x >= 9 && y < 4) px = {200, static_cast<std::uint8_t>(210 + x), static_cast<std::uint8_t>(220 + y)};
            if (x >= 9 && y >= 6) px = {5, static_cast<std::uint8_t>(12 + x % 2), static_cast<std::uint8_t>(14 + y % 2)};
            p.pixels[static_cast<std::size_t>(y) * 13 + x] = px;
        }
    }
    return p;
}

// frames/ with three frames whose names give their times, listed by name out of the
// order of their modification times.
struct SeasonFolder {
    TempDir dir;
    std::filesystem::path frames = dir.path("frames");
    QString project = q(dir.path("season.json"));

    SeasonFolder()
    {
        std::filesystem::create_directory(frames);
        const char* names[] = {"cam_20260603_080000.bmp", "cam_20260601_080000.bmp", "cam_20260602_080000.bmp"};
        int k = 0;
        for (const char* name : names) testing_support::writeFile(frames / name, testing_support::encodeBmp(frame(k++)));
    }
};

const QString kTimeRule = QStringLiteral("name:cam_%Y%m%d_%H%M%S");

QStringList framePaths(const view::SeasonDock& dock)
{
    QStringList list;
    for (const auto& e : dock.entries()) list << e.path;
    return list;
}

// The title as the window system shows it: Qt's [*] as * while unsaved.
std::string shownTitle(const view::ViewerWindow& window)
{
    return window.windowHandle()->title().toStdString();
}

// How the season is calibrated: each frame by its own panel, or one model for all.
struct Calibration {
    const char* name;
    engine::RegionSet regions;
    engine::NdviModel model;
    engine::WhiteFrom whiteFrom;
    std::optional<engine::FlatFieldModel> flat;  // written beside the frames' folder
};

std::vector<Calibration> calibrations()
{
    engine::RegionSet panels;
    panels.regions = {region("plot", {1, 1, 7, 7}), region("panel", {9, 0, 12, 3}, engine::RegionRole::White),
                      region("dark", {9, 6, 12, 8}, engine::RegionRole::Dark)};
    engine::Region triangle = region("tri", {0, 0, 0, 0});
    triangle.polygon = {{0, 8}, {6, 8}, {3, 4}};
    panels.regions.push_back(triangle);
    engine::NdviModel reflectances = engine::NdviModel::plain(255, 255);
    reflectances.nir.rWhite = 0.92f;
    reflectances.red.rWhite = 0.9f;
    reflectances.nir.rDark = 0.05f;
    reflectances.red.rDark = 0.04f;

    engine::RegionSet plots;
    plots.regions = {region("plot", {1, 1, 7, 7}), region("edge", {0, 0, 12, 0})};
    engine::NdviModel fixed = engine::NdviModel::plain(230, 221);
    fixed.nir.rWhite = 0.915f;
    fixed.red.rWhite = 0.887f;
    fixed.nir.dnDark = 12;
    fixed.red.dnDark = 14;
    fixed.nir.rDark = 0.031f;
    fixed.red.rDark = 0.027f;
    // A lens that darkens the corners of the 13 x 9 frames.
    engine::FlatFieldModel lens{13, 9, {}, {}};
    lens.nir = {6, 4, -0.35, 0.05, 0, 1, 2, 31.0, 0.4};
    lens.red = {7, 4, -0.25, 0, 0, 1, 1.5f, 24.5, 0.3};
    return {{"each frame by its panel", panels, reflectances, engine::WhiteFrom::Mean, std::nullopt},
            {"one model for every frame, through a flat-field", plots, fixed, engine::WhiteFrom::Maximum, lens}};
}

// The season of c shown in the viewer and saved as the folder's project.
void saveSeason(Viewer& v, const SeasonFolder& season, const Calibration& c)
{
    ASSERT_TRUE(v.window.season()->setTimeSource(kTimeRule));
    ASSERT_TRUE(v.window.openFolder(q(season.frames)));
    if (c.flat) {
        const std::filesystem::path folder = season.dir.path("lens");
        std::filesystem::create_directories(folder);
        engine::writeFlatField((folder / "ff.tif").string(), *c.flat);
        ASSERT_TRUE(v.window.openFlatField(q(folder / "ff.tif")));
    }
    v.window.regions().setSet(c.regions);
    v.window.setWhiteChoice(c.whiteFrom);
    v.window.setModel(c.model);
    v.savePaths.push_back(season.project);
    ASSERT_TRUE(v.window.project()->saveAs());
    ASSERT_TRUE(v.messages.empty()) << v.messages.front().toStdString();
}

TEST(Project, SavedThenOpenedGivesTheSameSeason)
{
    for (const Calibration& c : calibrations()) {
        SCOPED_TRACE(c.name);
        SeasonFolder season;
        Viewer a;
        saveSeason(a, season, c);
        EXPECT_FALSE(a.window.project()->isModified());
        EXPECT_EQ(shownTitle(a.window), "season.json - cam_20260601_080000.bmp - ZRV画像ビューア");

        // The engine reads it as zrvimage-batch series --project does.
        const engine::SeasonProject file = engine::readSeasonProject(season.project.toStdString());
        EXPECT_EQ(file.frames, "frames");
        EXPECT_EQ(file.time, kTimeRule.toStdString());
        EXPECT_EQ(engine::regionsJson(file.regions), engine::regionsJson(c.regions));
        EXPECT_EQ(engine::projectFrames(season.project.toStdString(), file).size(), 3u);
        EXPECT_EQ(file.flatfield, c.flat ? std::optional<std::string>("lens/ff.tif") : std::nullopt);

        Viewer b;
        ASSERT_TRUE(b.open(season.project.toStdString()));
        EXPECT_TRUE(b.messages.empty());
        EXPECT_EQ(b.window.project()->path(), season.project);
        EXPECT_FALSE(b.window.project()->isModified());
        EXPECT_EQ(framePaths(*b.window.season()), framePaths(*a.window.season()));
        EXPECT_EQ(framePaths(*b.window.season()).first(), q(season.frames / "cam_20260601_080000.bmp"));
        EXPECT_EQ(b.window.season()->timeSourceText(), kTimeRule);
        EXPECT_EQ(engine::regionsJson(b.window.regions().set()), engine::regionsJson(c.regions));
        EXPECT_EQ(b.window.whiteFrom(), c.whiteFrom);
        const engine::NdviModel& m = b.window.model();
        for (const auto& [got, want] : {std::pair{m.nir, c.model.nir}, std::pair{m.red, c.model.red}}) {
            EXPECT_EQ(got.rWhite, want.rWhite);
            EXPECT_EQ(got.rDark, want.rDark);
        }
        if (c.regions.white() == nullptr) {
            EXPECT_EQ(b.window.model(), c.model);
        }
        ASSERT_EQ(b.window.flatField() != nullptr, c.flat.has_value());
        if (c.flat) {
            EXPECT_EQ(b.window.flatField()->path(), season.dir.path("lens/ff.tif").string());
            EXPECT_EQ(b.window.flatField()->model(), *c.flat);
        }
        EXPECT_EQ(shownTitle(b.window), "season.json - cam_20260601_080000.bmp - ZRV画像ビューア");

        // zrvimage-batch series --project works the same season out to the same table.
        waitForChart(*b.window.season());
        ASSERT_TRUE(b.window.season()->complete());
        const std::string batchCsv = season.dir.path("batch.csv").string();
        std::ostringstream out, err;
        ASSERT_EQ(batch::run({"series", "--project", season.project.toStdString(), "--csv", batchCsv}, out, err, false), 0)
            << err.str();
        const auto written = testing_support::readFile(batchCsv);
        EXPECT_EQ(std::string(written.begin(), written.end()), b.window.season()->csv());
        // A row for each plot of each of the three frames, under the header.
        const std::size_t plots = c.regions.regions.size() - (c.regions.white() ? 2 : 0);
        EXPECT_EQ(static_cast<std::size_t>(std::count(written.begin(), written.end(), '\n')), 1 + 3 * plots);
    }
}

TEST(Project, AnEditMarksTheTitleUntilSaved)
{
    SeasonFolder season;
    Viewer v;
    // A project is a season: nothing to save before a folder is open.
    for (const char* text : {"プロジェクトを保存", "名前を付けて保存…"}) {
        ASSERT_NE(v.action(QString::fromUtf8(text)), nullptr) << text;
        EXPECT_FALSE(v.action(QString::fromUtf8(text))->isEnabled()) << text;
    }
    saveSeason(v, season, calibrations().front());
    v.window.regions().rename(0, QStringLiteral("plot A"));
    EXPECT_TRUE(v.window.project()->isModified());
    EXPECT_EQ(shownTitle(v.window), "season.json* - cam_20260601_080000.bmp - ZRV画像ビューア");
    // Back to what the file holds: nothing left to save.
    v.window.regions().rename(0, QStringLiteral("plot"));
    EXPECT_FALSE(v.window.project()->isModified());

    v.window.season()->setTimeSource(QStringLiteral("mtime"));
    EXPECT_TRUE(v.window.project()->isModified());
    QAction* save = v.action(QStringLiteral("プロジェクトを保存"));
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->shortcut(), QKeySequence(QKeySequence::Save));
    save->trigger();
    EXPECT_FALSE(v.window.project()->isModified());
    EXPECT_EQ(engine::readSeasonProject(season.project.toStdString()).time, "mtime");
    EXPECT_EQ(shownTitle(v.window), "season.json - cam_20260601_080000.bmp - ZRV画像ビューア");
}

// What leaving a season with unsaved changes does, by the answer to the question.
TEST(Project, LeavingWithUnsavedChangesAsks)
{
    enum class Leave { Close, Folder, Project };
    struct Case {
        const char* name;
        Leave by;
        QMessageBox::StandardButton answer;
        bool left;
        bool written;
    };
    const Case cases[] = {
        {"close, キャンセル", Leave::Close, QMessageBox::Cancel, false, false},
        {"close, 保存しない", Leave::Close, QMessageBox::Discard, true, false},
        {"close, 保存", Leave::Close, QMessageBox::Save, true, true},
        {"another folder, キャンセル", Leave::Folder, QMessageBox::Cancel, false, false},
        {"another folder, 保存しない", Leave::Folder, QMessageBox::Discard, true, false},
        {"another project, キャンセル", Leave::Project, QMessageBox::Cancel, false, false},
        {"another project, 保存", Leave::Project, QMessageBox::Save, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SeasonFolder season;
        SeasonFolder other;
        engine::SeasonProject otherProject;
        otherProject.frames = "frames";
        engine::writeSeasonProject(other.project.toStdString(), otherProject);
        Viewer v;
        saveSeason(v, season, calibrations().front());
        v.window.regions().add(region("added", {2, 2, 3, 3}));
        ASSERT_TRUE(v.window.project()->isModified());

        ModalDriver driver;
        driver.boxAnswers = {c.answer};
        const bool left = c.by == Leave::Close    ? v.window.close()
                          : c.by == Leave::Folder ? v.window.openFolder(q(other.frames))
                                                  : v.window.openFile(other.project);
        EXPECT_EQ(left, c.left);
        ASSERT_EQ(driver.boxes.size(), 1u);
        const ShownBox& box = driver.boxes.front();
        EXPECT_EQ(box.text, QStringLiteral("プロジェクト season.json の変更を保存しますか？"));
        QStringList buttons = box.buttons;
        buttons.sort();
        EXPECT_EQ(buttons, (QStringList{QStringLiteral("キャンセル"), QStringLiteral("保存"), QStringLiteral("保存しない")}));
        EXPECT_EQ(box.defaultButton, QStringLiteral("保存"));

        const std::size_t saved = engine::readSeasonProject(season.project.toStdString()).regions.regions.size();
        EXPECT_EQ(saved, c.written ? 5u : 4u);
        if (c.by == Leave::Close) {
            EXPECT_EQ(v.window.isVisible(), !c.left);
        } else {
            EXPECT_EQ(v.window.season()->folder(), QFileInfo(q(c.left ? other.frames : season.frames)).absoluteFilePath());
        }
        if (!c.left) {
            // Everything kept: the project, its change and its mark.
            EXPECT_EQ(v.window.project()->path(), season.project);
            EXPECT_TRUE(v.window.project()->isModified());
            EXPECT_EQ(v.window.regions().size(), 5u);
        } else if (c.by == Leave::Folder) {
            EXPECT_TRUE(v.window.project()->path().isEmpty());
            EXPECT_EQ(shownTitle(v.window), "cam_20260601_080000.bmp - ZRV画像ビューア");
        } else if (c.by == Leave::Project) {
            EXPECT_EQ(v.window.project()->path(), other.project);
            EXPECT_FALSE(v.window.project()->isModified());
            EXPECT_EQ(v.window.regions().size(), 0u);
        }
    }
}

TEST(Project, ASaveThatFailsIsNotTakenForSaved)
{
    struct Case {
        const char* name;
        std::string target;
    };
    std::vector<Case> cases = {
        {"a folder that is not there", "missing/season.json"},
        {"under a file", "plain/season.json"},
    };
    // The superuser writes into a read-only folder all the same.
    if (::geteuid() != 0) cases.push_back({"a read-only folder", "locked/season.json"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SeasonFolder season;
        testing_support::writeFile(season.dir.path("plain"), {'x'});
        std::filesystem::create_directory(season.dir.path("locked"));
        Viewer v;
        saveSeason(v, season, calibrations().front());
        std::filesystem::permissions(season.dir.path("locked"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        v.window.regions().rename(0, QStringLiteral("renamed"));
        const QString bad = q(season.dir.path(c.target));
        v.savePaths.push_back(bad);
        EXPECT_FALSE(v.window.project()->saveAs());
        ASSERT_EQ(v.messages.size(), 1u);
        // The engine's reason, and the file it is about.
        EXPECT_TRUE(v.messages.front().startsWith(QStringLiteral("出力ファイルを作成できません（"))) << v.messages.front().toStdString();
        EXPECT_TRUE(v.messages.front().contains(bad)) << v.messages.front().toStdString();
        EXPECT_FALSE(std::filesystem::exists(season.dir.path(c.target)));
        // Still the old file's project, and still unsaved.
        EXPECT_EQ(v.window.project()->path(), season.project);
        EXPECT_TRUE(v.window.project()->isModified());
        EXPECT_EQ(shownTitle(v.window), "season.json* - cam_20260601_080000.bmp - ZRV画像ビューア");
        EXPECT_EQ(QSettings(QStringLiteral("zrvimage"), QStringLiteral("zrvimage-view")).value(QStringLiteral("lastProject")).toString(),
                  season.project);
        std::filesystem::permissions(season.dir.path("locked"), std::filesystem::perms::owner_all);
    }
}

TEST(Project, ClosingKeepsTheWindowWhenItsSaveFails)
{
    SeasonFolder season;
    const std::filesystem::path kept = season.dir.path("kept");
    std::filesystem::create_directory(kept);
    Viewer v;
    ASSERT_TRUE(v.window.openFolder(q(season.frames)));
    v.window.regions().setSet(calibrations().back().regions);
    v.savePaths.push_back(q(kept / "season.json"));
    ASSERT_TRUE(v.window.project()->saveAs());
    v.window.regions().remove(0);
    // Its folder is now a file: saving there can only fail.
    std::filesystem::remove_all(kept);
    testing_support::writeFile(kept, {'x'});

    ModalDriver driver;
    driver.boxAnswers = {QMessageBox::Save};
    EXPECT_FALSE(v.window.close());
    EXPECT_TRUE(v.window.isVisible());
    ASSERT_EQ(driver.boxes.size(), 1u);
    ASSERT_EQ(v.messages.size(), 1u);
    EXPECT_TRUE(v.messages.front().contains(q(kept / "season.json"))) << v.messages.front().toStdString();
    EXPECT_TRUE(v.window.project()->isModified());
    EXPECT_EQ(v.window.regions().size(), 1u);
}

// A project file opens wherever a picture would.
TEST(Project, OpensFromADropAndTheRecentFiles)
{
    SeasonFolder season;
    {
        Viewer a;
        saveSeason(a, season, calibrations().back());
    }
    struct Case {
        const char* name;
        std::function<void(Viewer&)> open;
    };
    const Case cases[] = {
        {"a drop",
         [&](Viewer& v) {
             QMimeData data;
             data.setUrls({QUrl::fromLocalFile(season.project)});
             const QPoint at = v.window.canvas()->viewport()->rect().center();
             QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(&v.window, &enter);
             ASSERT_TRUE(enter.isAccepted());
             QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(&v.window, &drop);
             QApplication::processEvents();
         }},
        {"the recent files",
         [&](Viewer& v) {
             ASSERT_TRUE(v.window.openFile(season.project));
             // Another season leaves the project; the recent files bring it back.
             SeasonFolder other;
             ASSERT_TRUE(v.window.openFolder(q(other.frames)));
             ASSERT_TRUE(v.window.project()->path().isEmpty());
             QAction* recent = nullptr;
             for (QAction* a : v.window.findChildren<QAction*>()) {
                 if (a->text().contains(QStringLiteral(" season.json（"))) recent = a;
             }
             ASSERT_NE(recent, nullptr);
             recent->trigger();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Viewer v;
        c.open(v);
        EXPECT_TRUE(v.messages.empty());
        EXPECT_EQ(v.window.project()->path(), season.project);
        EXPECT_EQ(v.window.season()->folder(), QFileInfo(q(season.frames)).absoluteFilePath());
        EXPECT_EQ(engine::regionsJson(v.window.regions().set()), engine::regionsJson(calibrations().back().regions));
    }
}

// What the viewer cannot show as the file says is not taken for saved: saving would
// change the season.
TEST(Project, AProjectShownOtherwiseThanWrittenOpensUnsaved)
{
    struct Case {
        const char* name;
        std::function<void(engine::SeasonProject&)> make;
        std::size_t messages;
    };
    const Case cases[] = {
        {"its flat-field is gone", [](engine::SeasonProject& p) { p.flatfield = "lens/gone.tif"; }, 1},
        {"one model for every frame over a white region",
         [](engine::SeasonProject& p) {
             p.regions = calibrations().front().regions;
             p.calibration = engine::calibrationText({engine::NdviModel::plain(230, 221), {}});
         },
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SeasonFolder season;
        engine::SeasonProject p;
        p.frames = "frames";
        p.regions = calibrations().back().regions;
        c.make(p);
        engine::writeSeasonProject(season.project.toStdString(), p);
        Viewer v;
        ASSERT_TRUE(v.window.openFile(season.project));
        EXPECT_EQ(v.messages.size(), c.messages);
        EXPECT_EQ(v.window.project()->path(), season.project);
        EXPECT_TRUE(v.window.project()->isModified());
        EXPECT_EQ(engine::regionsJson(v.window.regions().set()), engine::regionsJson(p.regions));
    }
}

// A project of another index (the batch's --index) opens as written, and saving it from
// the viewer keeps its index.
TEST(Project, AnotherIndexIsKeptWhenSaved)
{
    SeasonFolder season;
    engine::SeasonProject p;
    p.frames = "frames";
    p.time = kTimeRule.toStdString();
    p.regions = calibrations().back().regions;
    p.index = std::get<engine::VegetationIndex>(engine::parseVegetationIndex("savi:0.25"));
    engine::writeSeasonProject(season.project.toStdString(), p);
    Viewer v;
    ASSERT_TRUE(v.window.openFile(season.project));
    EXPECT_FALSE(v.window.project()->isModified());
    ASSERT_TRUE(v.window.project()->save());
    const engine::SeasonProject saved = engine::readSeasonProject(season.project.toStdString());
    ASSERT_TRUE(saved.index.has_value());
    EXPECT_EQ(saved.index->text(), "savi:0.25");
}

TEST(Project, TheLastProjectOpensOnStartWhileItIsThere)
{
    SeasonFolder season;
    {
        Viewer a;
        saveSeason(a, season, calibrations().front());
    }
    std::vector<QString> messages;
    const auto start = [&messages] {
        auto window = std::make_unique<view::ViewerWindow>();
        window->prompts().message = [&messages](const QString& text) { messages.push_back(text); };
        return window;
    };
    {
        auto window = start();
        EXPECT_TRUE(window->project()->reopenLast());
        EXPECT_EQ(window->project()->path(), season.project);
        EXPECT_EQ(window->season()->timeSourceText(), kTimeRule);
    }
    std::filesystem::remove(season.project.toStdString());
    {
        auto window = start();
        EXPECT_FALSE(window->project()->reopenLast());
        EXPECT_TRUE(window->project()->path().isEmpty());
        EXPECT_TRUE(window->season()->folder().isEmpty());
    }
    EXPECT_TRUE(messages.empty());
}

}  // namespace
