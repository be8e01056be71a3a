// Markers: the tags found with their corners in the order printed, the homography of
// least squares, regions files anchored to tags, and regions placed on a frame.

#include "engine/season/Markers.h"
#include "engine/season/Regions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using engine::Homography;
using engine::Vertex;

// A grey picture, white, with tags drawn upright at cell pixels a cell, their black
// border's top-left outer corner at (x, y).
struct Drawn {
    int id, x, y;
};

engine::GreyPicture pictureWith(std::int64_t width, std::int64_t height, const std::vector<Drawn>& tags, int cell)
{
    engine::GreyPicture g;
    g.width = width;
    g.height = height;
    g.pixels.assign(static_cast<std::size_t>(width * height), 200);
    for (const Drawn& t : tags) {
        const engine::TagPattern p = engine::tagPattern(t.id);
        for (int cy = 0; cy < p.side; ++cy) {
            for (int cx = 0; cx < p.side; ++cx) {
                const std::uint8_t v = p.black[static_cast<std::size_t>(cy * p.side + cx)] ? 20 : 200;
                for (int y = 0; y < cell; ++y) {
                    for (int x = 0; x < cell; ++x) {
                        const std::int64_t px = t.x + (cx - 1) * cell + x, py = t.y + (cy - 1) * cell + y;
                        g.pixels[static_cast<std::size_t>(py * width + px)] = v;
                    }
                }
            }
        }
    }
    return g;
}

TEST(Markers, TagsAreFoundOnceEachWithTheirCornersInPrintedOrder)
{
    const int cell = 8;
    const engine::GreyPicture g = pictureWith(400, 300, {{7, 40, 40}, {2, 250, 120}, {5, 40, 180}, {5, 250, 20}}, cell);
    const std::vector<engine::FoundTag> found = engine::findTags(g.view());
    // Tag 5 twice: neither can be told from the other, so neither is used.
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].id, 2);
    EXPECT_EQ(found[1].id, 7);
    const double side = 8.0 * cell;
    const Vertex expected[4] = {{40, 40}, {40 + side, 40}, {40 + side, 40 + side}, {40, 40 + side}};
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(found[1].corners[k].x, expected[k].x, 0.05) << k;
        EXPECT_NEAR(found[1].corners[k].y, expected[k].y, 0.05) << k;
    }
    EXPECT_TRUE(engine::findTags(pictureWith(64, 48, {}, cell).view()).empty());
}

TEST(Markers, HomographyOfLeastSquaresTakesThePointsWhereTheMapDoes)
{
    const Homography maps[] = {
        {{1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {{0.98, -0.05, 80, 0.05, 0.98, -40, 0, 0, 1}},       // turned, scaled, shifted
        {{1.05, 0.02, -12, -0.01, 0.95, 30, 2e-5, -1e-5, 1}},  // and seen at a slant
    };
    const std::vector<Vertex> from{{100, 100}, {164, 100}, {164, 164}, {100, 164}, {1800, 120},
                                   {1864, 120}, {1864, 184}, {1800, 184}, {900, 1400}};
    for (const Homography& m : maps) {
        std::vector<Vertex> to;
        for (const Vertex& p : from) to.push_back(m.map(p));
        const auto fit = engine::fitHomography(from, to);
        ASSERT_TRUE(fit);
        for (const Vertex& p : {Vertex{0, 0}, Vertex{2048, 1536}, Vertex{1000, 700}}) {
            EXPECT_NEAR(fit->map(p).x, m.map(p).x, 1e-6);
            EXPECT_NEAR(fit->map(p).y, m.map(p).y, 1e-6);
        }
    }
    // Too few points, or all on one line, fix no map.
    EXPECT_FALSE(engine::fitHomography({{0, 0}, {1, 0}, {0, 1}}, {{0, 0}, {1, 0}, {0, 1}}));
    const std::vector<Vertex> line{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}};
    EXPECT_FALSE(engine::fitHomography(line, line));
}

const char* const kAnchored = R"({"markers": {"family": "tag36h11", "field": [0, 3],
  "reference": {"0": [[10, 10], [50, 10], [50, 50], [10, 50]], "3": [[300, 200], [340, 200], [340, 240], [300, 240]]}},
 "regions": [
  {"name": "A1", "rect": [100, 80, 149, 119]},
  {"name": "p", "polygon": [[160, 80], [220, 90], [200, 140]]},
  {"name": "panel", "tag": 7, "rect": [1.3, 0.1, 2.9, 1.7], "role": "white"}
]})";

TEST(Markers, AnchoredRegionsFileReadsAndWritesBackTheSame)
{
    const engine::RegionSet set = engine::parseRegions(kAnchored, "r.json");
    ASSERT_TRUE(set.markers);
    EXPECT_EQ(set.markers->field, (std::vector<int>{0, 3}));
    EXPECT_EQ(set.markers->reference.at(3)[1], (Vertex{340, 200}));
    EXPECT_EQ(set.regions[2].tag, 7);
    EXPECT_EQ(set.regions[2].unitRect, (std::array<double, 4>{1.3, 0.1, 2.9, 1.7}));
    EXPECT_TRUE(set.usesMarkers());

    const engine::RegionSet again = engine::parseRegions(engine::regionsJson(set), "r.json");
    EXPECT_EQ(again.markers, set.markers);
    EXPECT_EQ(again.regions[2].unitRect, set.regions[2].unitRect);
    EXPECT_EQ(engine::regionsJson(again), engine::regionsJson(set));

    // Without markers the file is as it always was.
    const engine::RegionSet plain = engine::parseRegions(R"({"regions": [{"name": "a", "rect": [0, 0, 1, 1]}]})", "");
    EXPECT_FALSE(plain.usesMarkers());
    EXPECT_EQ(engine::regionsJson(plain), "{\"regions\": [\n  {\"name\": \"a\", \"rect\": [0, 0, 1, 1]}\n]}\n");
}

TEST(Markers, RegionsFilesThatCannotBePlacedAreRefusedWithTheReason)
{
    const struct {
        const char* json;
        const char* says;
    } cases[] = {
        {R"({"markers": {"family": "tag25h9"}, "regions": []})", "tag36h11"},
        {R"({"markers": {"field": [0, 0]}, "regions": []})", "二度"},
        {R"({"markers": {"field": [587]}, "regions": []})", "587"},
        {R"({"markers": {"field": "0,1"}, "regions": []})", "field"},
        {R"({"markers": {"field": [0], "reference": {"1": [[0,0],[1,0],[1,1],[0,1]]}}, "regions": []})", "field にありません"},
        {R"({"markers": {"field": [0], "reference": {"0": [[0,0],[1,0],[1,1]]}}, "regions": []})", "reference"},
        {R"({"regions": [{"name": "w", "tag": -1, "rect": [0, 0, 1, 1]}]})", "tag"},
        {R"({"regions": [{"name": "w", "tag": 7, "rect": [2, 0, 1, 1]}]})", "U1 < U2"},
        {R"({"regions": [{"name": "w", "tag": 7, "rect": [0, 0, 1e9, 1]}]})", "±1000"},
        {R"({"regions": [{"name": "w", "tag": 7, "polygon": [[0, 0], [1, 0]]}]})", "3 点"},
    };
    for (const auto& c : cases) {
        try {
            engine::parseRegions(c.json, "r.json");
            ADD_FAILURE() << "accepted: " << c.json;
        } catch (const engine::RegionsError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
}

std::vector<engine::FoundTag> tagsAt(const Homography& view, const engine::MarkerSettings& m, int panelTag, Vertex panelAt)
{
    std::vector<engine::FoundTag> tags;
    for (const auto& [id, corners] : m.reference) {
        engine::FoundTag t;
        t.id = id;
        for (std::size_t k = 0; k < 4; ++k) t.corners[k] = view.map(corners[k]);
        tags.push_back(t);
    }
    engine::FoundTag panel;
    panel.id = panelTag;
    panel.corners = {panelAt, {panelAt.x, panelAt.y + 40}, {panelAt.x - 40, panelAt.y + 40}, {panelAt.x - 40, panelAt.y}};  // turned a quarter
    tags.push_back(panel);
    std::sort(tags.begin(), tags.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    return tags;
}

TEST(Markers, RegionsArePlacedByTheFieldTagsAndTheirOwnTag)
{
    const engine::RegionSet set = engine::parseRegions(kAnchored, "r.json");
    // An unmoved frame: every plot holds the very pixels it holds without markers.
    const Homography same;
    const engine::Registration still = engine::registerRegions(set, tagsAt(same, *set.markers, 7, {500, 100}));
    ASSERT_FALSE(still.problem) << *still.problem;
    EXPECT_EQ(still.fieldFound, 2);
    EXPECT_NEAR(*still.rmsPx, 0, 1e-9);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(engine::regionRuns(still.mapped.regions[i]), engine::regionRuns(set.regions[i])) << i;
    }
    // The panel in its tag's units: u along the tag's top edge, here pointing down.
    const auto& panel = still.mapped.regions[2].polygon;
    ASSERT_EQ(panel.size(), 4u);
    EXPECT_NEAR(panel[0].x, 500 - 0.1 * 40, 1e-9);
    EXPECT_NEAR(panel[0].y, 100 + 1.3 * 40, 1e-9);

    // A moved frame: the plot goes where the view takes its corners.
    const Homography moved{{0.97, -0.06, 35, 0.06, 0.97, -20, 0, 0, 1}};
    const engine::Registration placed = engine::registerRegions(set, tagsAt(moved, *set.markers, 7, {500, 100}));
    ASSERT_FALSE(placed.problem);
    const Vertex corner = placed.mapped.regions[0].polygon[2];
    EXPECT_NEAR(corner.x, moved.map({150, 120}).x, 1e-6);
    EXPECT_NEAR(corner.y, moved.map({150, 120}).y, 1e-6);

    // What cannot be placed says which tags are missing.
    std::vector<engine::FoundTag> noPanel = tagsAt(same, *set.markers, 7, {500, 100});
    noPanel.pop_back();
    EXPECT_NE(engine::registerRegions(set, noPanel).problem.value_or("").find("マーカー 7 が見つかりません"), std::string::npos);
    std::vector<engine::FoundTag> oneField = tagsAt(same, *set.markers, 7, {500, 100});
    oneField.erase(oneField.begin() + 1);  // tag 3
    const engine::Registration few = engine::registerRegions(set, oneField);
    EXPECT_NE(few.problem.value_or("").find("見つからないマーカー: 3"), std::string::npos) << few.problem.value_or("");
    EXPECT_TRUE(few.mapped.regions.empty());

    engine::RegionSet unanchored = set;
    unanchored.markers->reference.clear();
    EXPECT_NE(engine::registerRegions(unanchored, noPanel).problem.value_or("").find("anchor"), std::string::npos);
    EXPECT_THROW(engine::anchorRegions(unanchored, oneField), engine::RegionsError);
    EXPECT_EQ(engine::anchorRegions(unanchored, noPanel).markers->reference, set.markers->reference);
}

// A field tag moved since the reference frame: among four, it is left out and the
// others place the plots; of two, the frame is refused rather than placed wrong.
TEST(Markers, AFieldTagMovedIsLeftOutOrTheFrameRefused)
{
    engine::RegionSet set = engine::parseRegions(R"({"markers": {"field": [0, 1, 2, 3]},
      "regions": [{"name": "A1", "rect": [300, 300, 400, 380]}]})", "r.json");
    const auto square = [](double x, double y) {
        return engine::TagCorners{Vertex{x, y}, Vertex{x + 60, y}, Vertex{x + 60, y + 60}, Vertex{x, y + 60}};
    };
    set.markers->reference = {{0, square(100, 100)}, {1, square(900, 100)}, {2, square(900, 700)}, {3, square(100, 700)}};
    const Homography view{{1.02, 0.03, 15, -0.03, 1.02, 8, 0, 0, 1}};
    std::vector<engine::FoundTag> tags;
    for (const auto& [id, corners] : set.markers->reference) {
        engine::FoundTag t;
        t.id = id;
        for (std::size_t k = 0; k < 4; ++k) t.corners[k] = view.map(corners[k]);
        tags.push_back(t);
    }
    for (Vertex& v : tags[2].corners) v.x += 40;  // tag 2 pushed aside

    const engine::Registration placed = engine::registerRegions(set, tags);
    ASSERT_FALSE(placed.problem) << *placed.problem;
    EXPECT_EQ(placed.fieldFound, 3);
    EXPECT_LT(*placed.rmsPx, 1e-6);
    EXPECT_NEAR(placed.mapped.regions[0].polygon[0].x, view.map({300, 300}).x, 1e-6);

    // Of two tags, one knocked askew: no map takes both where they lie. (One merely
    // shifted would pass for a view a little nearer: two tags cannot tell.)
    set.markers->field = {0, 2};
    set.markers->reference.erase(1);
    set.markers->reference.erase(3);
    for (std::size_t k = 0; k < 4; ++k) tags[2].corners[k] = view.map(set.markers->reference.at(2)[(k + 1) % 4]);
    const engine::Registration two = engine::registerRegions(set, tags);
    EXPECT_NE(two.problem.value_or("").find("合いません"), std::string::npos) << two.problem.value_or("");
}

}  // namespace
