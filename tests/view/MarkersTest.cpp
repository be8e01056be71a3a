// Regions anchored to markers in the viewer: each frame of a season places them by the
// tags found on it (drawn there, measured there, and as the engine places them), a frame
// whose field tags are covered is listed with the reason and left out of the chart, and
// 領域をマーカーに固定 writes the open frame's tag corners into the regions.
#include "ViewerFixture.h"

#include "engine/formats/PictureReader.h"
#include "engine/season/Markers.h"
#include "engine/season/Season.h"
#include "view/regions/RegionsModel.h"
#include "view/regions/RegionsSection.h"
#include "view/season/SeasonDock.h"

#include <QLineSeries>
#include <QTableWidget>
#include <QChart>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <set>

namespace {

using namespace view_testing;
using testing_support::TempDir;

constexpr int kWidth = 480, kHeight = 400;
constexpr int kCell = 8;  // pixels a cell of a printed tag
// Where each tag lies in the scene (the reference frame's pixels): the top-left of its
// white margin. Tags 0 to 3 stand in the field's corners; 7 is on the panel's card.
struct PlacedTag {
    int id;
    double x, y;
};
constexpr PlacedTag kTags[] = {{0, 40, 40}, {1, 360, 40}, {2, 360, 280}, {3, 40, 280}, {7, 200, 40}};

// A frame: the scene turned by degrees about the frame's centre, then moved by (dx, dy);
// the tags not in hidden printed black (0) on white (255) in the green and red bytes,
// and a plot of its own bytes at scene (180 .. 300, 160 .. 260) on a ground of others,
// each pixel sampled at its centre.
Picture frame(double degrees, double dx, double dy, const std::set<int>& hidden = {})
{
    const double a = degrees * 3.14159265358979323846 / 180, c = std::cos(a), s = std::sin(a);
    const double cx = kWidth / 2.0, cy = kHeight / 2.0;
    Picture p{kWidth, kHeight, {}};
    p.pixels.resize(static_cast<std::size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            // The scene point this pixel's centre shows: the frame's motion undone.
            const double u = x + 0.5 - dx - cx, v = y + 0.5 - dy - cy;
            const double sx = c * u + s * v + cx, sy = -s * u + c * v + cy;
            Pixel px{30, static_cast<std::uint8_t>(90 + (x * 3 + y) % 7), 120};
            if (sx >= 180 && sx < 300 && sy >= 160 && sy < 260) {
                px = {20, static_cast<std::uint8_t>(40 + (x + 2 * y) % 9), static_cast<std::uint8_t>(200 + (x * 5 + y) % 11)};
            }
            for (const PlacedTag& t : kTags) {
                if (hidden.count(t.id)) continue;
                static const int side = engine::tagPattern(0).side;
                const double cu = (sx - t.x) / kCell, cv = (sy - t.y) / kCell;
                if (cu < 0 || cv < 0 || cu >= side || cv >= side) continue;
                const engine::TagPattern pattern = engine::tagPattern(t.id);
                const bool black = pattern.black[static_cast<std::size_t>(static_cast<int>(cv) * side + static_cast<int>(cu))];
                const std::uint8_t b = black ? 0 : 255;
                px = {b, b, b};
            }
            p.pixels[static_cast<std::size_t>(y) * kWidth + x] = px;
        }
    }
    return p;
}

engine::Region plot()
{
    engine::Region r;
    r.name = "P1";
    r.rect = {190, 170, 289, 249};
    return r;
}

// The plot anchored to the field tags by their corners in the scene (the outer corners
// of the black border, one cell inside the white margin).
engine::RegionSet anchoredSet()
{
    engine::RegionSet set;
    set.regions.push_back(plot());
    engine::MarkerSettings m;
    const double side = engine::tagPattern(0).side;
    for (const PlacedTag& t : kTags) {
        if (t.id > 3) continue;
        m.field.push_back(t.id);
        const double x1 = t.x + kCell, y1 = t.y + kCell, x2 = t.x + (side - 1) * kCell, y2 = t.y + (side - 1) * kCell;
        m.reference[t.id] = {engine::Vertex{x1, y1}, engine::Vertex{x2, y1}, engine::Vertex{x2, y2}, engine::Vertex{x1, y2}};
    }
    set.markers = m;
    return set;
}

QString q(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string());
}

// The frames written with their times a day apart, in this order.
void writeSeason(const TempDir& dir, const std::vector<std::pair<std::string, Picture>>& frames)
{
    const auto base = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 30);
    int day = 0;
    for (const auto& [name, picture] : frames) {
        testing_support::writeFile(dir.path(name), testing_support::encodeBmp(picture));
        std::filesystem::last_write_time(dir.path(name), base + std::chrono::hours(24 * ++day));
    }
}

engine::FrameFigures engineFigures(const std::filesystem::path& file, const engine::RegionSet& set,
                                   const view::ViewerWindow& window)
{
    engine::PictureReader reader = engine::PictureReader::open(file.string());
    reader.require24Bit(engine::PictureReader::Signature::Names);
    return engine::seasonFrameFigures(reader, set, view::seasonSettingsFor(set, window.model(), window.whiteFrom()));
}

void expectSameFigures(const engine::RegionFigures& a, const engine::RegionFigures& b, const std::string& where)
{
    EXPECT_EQ(a.pixels, b.pixels) << where;
    EXPECT_EQ(a.mean, b.mean) << where;
    EXPECT_EQ(a.p05, b.p05) << where;
    EXPECT_EQ(a.p95, b.p95) << where;
    EXPECT_EQ(a.nirMean, b.nirMean) << where;
}

TEST(MarkersTest, EachFramePlacesTheRegionsByItsTagsAndACoveredOneIsListedAndLeftOut)
{
    TempDir dir;
    // Name, frame: the reference; turned and moved; the field tags but one covered.
    writeSeason(dir, {{"a.bmp", frame(0, 0, 0)}, {"b.bmp", frame(5, 7, -5)}, {"c.bmp", frame(0, 0, 0, {1, 2, 3})}});
    Viewer v;
    const engine::RegionSet set = anchoredSet();
    v.window.regions().setSet(set);
    ASSERT_TRUE(v.window.openFolder(q(dir.dir())));
    view::SeasonDock& dock = *v.window.season();
    waitForChart(dock);
    ASSERT_TRUE(dock.complete());
    ASSERT_EQ(dock.entries().size(), 3u);

    // Placed frames: the dock's figures, the canvas's places and the panel's figures
    // are the engine's on the same file.
    for (const char* name : {"a.bmp", "b.bmp"}) {
        const std::size_t i = name[0] == 'a' ? 0 : 1;
        const view::SeasonEntry& e = dock.entries()[i];
        ASSERT_EQ(e.path, q(dir.path(name)));
        ASSERT_TRUE(e.figures) << e.problem.toStdString();
        const engine::FrameFigures expected = engineFigures(dir.path(name), set, v.window);
        ASSERT_TRUE(expected.registration && e.figures->registration);
        EXPECT_EQ(e.figures->registration->mapped.regions[0].polygon, expected.registration->mapped.regions[0].polygon);
        expectSameFigures(e.figures->plots[0], expected.plots[0], name);

        ASSERT_TRUE(v.open(dir.path(name)));
        const auto& placed = v.window.canvas()->placement();
        ASSERT_TRUE(placed && !placed->problem) << name;
        EXPECT_EQ(placed->mapped.regions[0].polygon, expected.registration->mapped.regions[0].polygon) << name;
        std::vector<int> ids;
        for (const auto& t : placed->tags) ids.push_back(t.id);
        EXPECT_EQ(ids, std::vector<int>({0, 1, 2, 3, 7})) << name;
        const QTableWidget* table = v.window.regionsSection()->table();
        EXPECT_EQ(table->item(0, view::RegionsSection::Pixels)->text(), QString::number(expected.plots[0].pixels)) << name;
        EXPECT_EQ(table->item(0, view::RegionsSection::Mean)->text(), fourDecimals(*expected.plots[0].mean)) << name;
        const QString status = v.window.regionsSection()->statusText();
        EXPECT_TRUE(status.contains(QStringLiteral("見つかったマーカー: 0, 1, 2, 3, 7（圃場のマーカー 4 個で位置合わせ、残差 %1 画素）")
                                        .arg(*expected.registration->rmsPx, 0, 'f', 2)))
            << status.toStdString();
    }
    // The turned frame's plot lies elsewhere than on the reference frame, and where the
    // scene's turn and move take its corner.
    const auto& turned = dock.entries()[1].figures->registration->mapped.regions[0].polygon;
    const auto& still = dock.entries()[0].figures->registration->mapped.regions[0].polygon;
    ASSERT_EQ(turned.size(), 4u);
    const double a = 5 * 3.14159265358979323846 / 180;
    const double u = 190 - kWidth / 2.0, w = 170 - kHeight / 2.0;
    EXPECT_NEAR(turned[0].x, std::cos(a) * u - std::sin(a) * w + kWidth / 2.0 + 7, 0.5);
    EXPECT_NEAR(turned[0].y, std::sin(a) * u + std::cos(a) * w + kHeight / 2.0 - 5, 0.5);
    EXPECT_NEAR(still[0].x, 190, 0.3);
    EXPECT_NEAR(still[0].y, 170, 0.3);

    // The covered frame: in red with the engine's reason, no point on the chart, and on
    // the canvas its tags but no regions.
    const view::SeasonEntry& covered = dock.entries()[2];
    EXPECT_FALSE(covered.figures);
    EXPECT_TRUE(covered.problem.contains(QStringLiteral("c.bmp"))) << covered.problem.toStdString();
    EXPECT_TRUE(covered.problem.contains(QStringLiteral("見つからないマーカー: 1, 2, 3"))) << covered.problem.toStdString();
    EXPECT_TRUE(dock.listTexts()[2].contains(covered.problem));
    EXPECT_EQ(dock.failedCount(), 1u);
    const auto* line = qobject_cast<QLineSeries*>(dock.chart()->series().at(1));
    ASSERT_TRUE(line && line->name() == QStringLiteral("P1"));
    ASSERT_EQ(line->count(), 2);
    EXPECT_EQ(line->at(1).y(), *dock.entries()[1].figures->plots[0].mean);

    ASSERT_TRUE(v.open(dir.path("c.bmp")));
    const auto& placed = v.window.canvas()->placement();
    ASSERT_TRUE(placed && placed->problem);
    EXPECT_TRUE(v.window.regionsSection()->statusText().contains(QStringLiteral("見つからないマーカー: 1, 2, 3")))
        << v.window.regionsSection()->statusText().toStdString();
    EXPECT_TRUE(v.window.regionsSection()->table()->item(0, view::RegionsSection::Mean)->text().isEmpty());
}

TEST(MarkersTest, AnchoringWritesTheOpenFrameTagCornersOrRefusesNamingTheMissing)
{
    TempDir dir;
    writeSeason(dir, {{"whole.bmp", frame(0, 0, 0)}, {"covered.bmp", frame(0, 0, 0, {1, 2, 3})}});
    engine::RegionSet plain;
    plain.regions.push_back(plot());
    engine::Region card;  // on tag 7's card: not proposed as the field's
    card.name = "panel";
    card.role = engine::RegionRole::White;
    card.tag = 7;
    card.unitRect = {0.2, 0.2, 0.8, 0.8};
    plain.regions.push_back(card);

    struct Case {
        const char* file;
        std::optional<std::vector<int>> answer;  // the field's tags chosen; nothing: cancelled
        std::optional<std::vector<int>> field;   // the set's field before; nothing: none
        const char* message;                     // in the message when refused; null: anchored
        bool outside = false;                    // a plot past the frame's right edge too
    };
    const Case cases[] = {
        {"whole.bmp", std::vector<int>{0, 1, 2, 3}, std::nullopt, nullptr},
        {"whole.bmp", std::nullopt, std::nullopt, ""},
        {"whole.bmp", std::vector<int>{2}, std::nullopt, "2 個以上"},
        {"covered.bmp", std::nullopt, std::vector<int>{0, 1, 2, 3}, "見つからないマーカー: 1, 2, 3"},
        {"whole.bmp", std::vector<int>{0, 1, 2, 3}, std::nullopt, "領域「wide」が画像（480×400）の外にはみ出しています", true},
    };
    for (const Case& c : cases) {
        const std::string where = std::string(c.file) + (c.message ? c.message : " anchored");
        Viewer v;
        engine::RegionSet before = plain;
        if (c.field) before.markers = engine::MarkerSettings{*c.field, {}};
        if (c.outside) {
            engine::Region wide = plot();
            wide.name = "wide";
            wide.rect.x2 = kWidth;
            before.regions.push_back(wide);
        }
        v.window.regions().setSet(before);
        std::vector<int> asked, proposed;
        v.window.prompts().fieldTags = [&](const std::vector<int>& found, const std::vector<int>& ticked) {
            asked = found;
            proposed = ticked;
            return c.answer;
        };
        ASSERT_TRUE(v.open(dir.path(c.file)));
        QAction* anchor = v.action(QStringLiteral("領域をマーカーに固定"));
        ASSERT_TRUE(anchor && anchor->isEnabled()) << where;
        anchor->trigger();
        if (!c.field) {
            EXPECT_EQ(asked, std::vector<int>({0, 1, 2, 3, 7})) << where;
            EXPECT_EQ(proposed, std::vector<int>({0, 1, 2, 3})) << where;
        }
        if (c.message) {
            EXPECT_EQ(engine::regionsJson(v.window.regions().set()), engine::regionsJson(before)) << where;
            if (*c.message) {
                ASSERT_EQ(v.messages.size(), 1u) << where;
                EXPECT_TRUE(v.messages[0].contains(QString::fromUtf8(c.message))) << v.messages[0].toStdString();
            } else {
                EXPECT_TRUE(v.messages.empty()) << where;
            }
            continue;
        }
        // Anchored: the corners the engine finds on the frame, within a third of a pixel
        // of where they were printed, the regions themselves as they were.
        EXPECT_TRUE(v.messages.empty()) << where;
        const engine::RegionSet after = v.window.regions().set();
        ASSERT_TRUE(after.markers);
        EXPECT_EQ(after.markers->field, std::vector<int>({0, 1, 2, 3}));
        engine::RegionSet regionsOnly = after;
        regionsOnly.markers.reset();
        EXPECT_EQ(engine::regionsJson(regionsOnly), engine::regionsJson(plain));
        const engine::RegionSet printed = anchoredSet();
        ASSERT_EQ(after.markers->reference.size(), 4u);
        for (const auto& [id, corners] : printed.markers->reference) {
            for (std::size_t k = 0; k < 4; ++k) {
                EXPECT_NEAR(after.markers->reference.at(id)[k].x, corners[k].x, 0.3) << id << ' ' << k;
                EXPECT_NEAR(after.markers->reference.at(id)[k].y, corners[k].y, 0.3) << id << ' ' << k;
            }
        }
        // Saved as the viewer saves regions, and read back the same.
        ASSERT_TRUE(v.window.saveRegions(q(dir.path("regions.json"))));
        EXPECT_EQ(engine::regionsJson(engine::readRegionsFile(dir.path("regions.json").string())),
                  engine::regionsJson(after));
        // Now placed on the frame: the plot drawn where it was drawn.
        const auto& placed = v.window.canvas()->placement();
        ASSERT_TRUE(placed && !placed->problem);
        EXPECT_NEAR(placed->mapped.regions[0].polygon[0].x, 190, 0.3);
        EXPECT_NEAR(placed->mapped.regions[0].polygon[2].y, 250, 0.3);
    }
}

}  // namespace

namespace {

// A region drawn over a frame of an anchored set is kept in the reference frame's
// pixels, so that it lies where it was drawn on this frame and moves with the field on
// the others; where this frame's place is unknown, drawing is refused.
TEST(MarkersTest, ARegionDrawnOnAMovedFrameIsKeptInTheReferencePixels)
{
    TempDir dir;
    writeSeason(dir, {{"turned.bmp", frame(5, 7, -5)}, {"covered.bmp", frame(0, 0, 0, {1, 2, 3})}});
    for (const char* file : {"turned.bmp", "covered.bmp"}) {
        Viewer v;
        v.window.regions().setSet(anchoredSet());
        ASSERT_TRUE(v.open(dir.path(file)));
        v.regionNames = {QStringLiteral("P2")};
        engine::Region drawn;
        drawn.rect = {100, 120, 159, 199};
        emit v.window.canvas()->regionDrawn(drawn);
        if (std::string(file) == "covered.bmp") {
            EXPECT_EQ(v.window.regions().size(), 1u);
            ASSERT_EQ(v.messages.size(), 1u);
            EXPECT_TRUE(v.messages[0].contains(QStringLiteral("領域を描けません"))) << v.messages[0].toStdString();
            continue;
        }
        ASSERT_EQ(v.window.regions().size(), 2u) << (v.messages.empty() ? "" : v.messages[0].toStdString());
        // In the set: the rectangle's pixel edges turned and moved back.
        const engine::Region& kept = v.window.regions().at(1);
        ASSERT_EQ(kept.polygon.size(), 4u);
        const double a = -5 * 3.14159265358979323846 / 180;
        const double u = 100 - 7 - kWidth / 2.0, w = 120 + 5 - kHeight / 2.0;
        EXPECT_NEAR(kept.polygon[0].x, std::cos(a) * u - std::sin(a) * w + kWidth / 2.0, 0.5);
        EXPECT_NEAR(kept.polygon[0].y, std::sin(a) * u + std::cos(a) * w + kHeight / 2.0, 0.5);
        // On this frame: where it was drawn.
        const auto& placed = v.window.canvas()->placement();
        ASSERT_TRUE(placed && !placed->problem && placed->mapped.regions.size() == 2);
        const std::vector<engine::Vertex> edges = {{100, 120}, {160, 120}, {160, 200}, {100, 200}};
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_NEAR(placed->mapped.regions[1].polygon[k].x, edges[k].x, 0.01) << k;
            EXPECT_NEAR(placed->mapped.regions[1].polygon[k].y, edges[k].y, 0.01) << k;
        }
    }
}

}  // namespace
