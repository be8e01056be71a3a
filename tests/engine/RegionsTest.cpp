// Named regions: the pixels of rectangles and polygons against a pixel-by-pixel even-odd
// test, every bad regions file refused with the file and the region named, and the
// file written and read back to the same set.

#include "engine/season/Regions.h"

#include "SeasonOracle.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using engine::PixelRun;
using engine::Region;
using engine::RegionRole;
using engine::RegionSet;
using testing_support::OracleRegion;
using testing_support::QuarterPoint;

Region polygonOf(const std::vector<QuarterPoint>& points)
{
    Region r;
    r.name = "p";
    for (const auto& p : points) r.polygon.push_back({static_cast<double>(p.qx) / 4, static_cast<double>(p.qy) / 4});
    return r;
}

// The oracle's pixels within a window as runs, rows from the top.
std::vector<PixelRun> oracleRuns(const OracleRegion& region, std::int64_t from, std::int64_t to)
{
    std::vector<PixelRun> runs;
    for (std::int64_t y = from; y <= to; ++y) {
        for (std::int64_t x = from; x <= to; ++x) {
            if (!region.holds(x, y)) continue;
            if (!runs.empty() && runs.back().y == y && runs.back().x2 == x - 1) {
                runs.back().x2 = x;
            } else {
                runs.push_back({y, x, x});
            }
        }
    }
    return runs;
}

TEST(RegionPixels, PolygonsHoldThePixelsWhoseCentresLieInsideByTheEvenOddRule)
{
    // In quarters of a pixel: vertices on pixel corners, on pixel centres (so that
    // centres fall on edges and vertices), at quarters, concave, crossing itself, and
    // partly left of and above the picture.
    const std::vector<std::pair<const char*, std::vector<QuarterPoint>>> cases = {
        {"square", {{8, 8}, {32, 8}, {32, 24}, {8, 24}}},
        {"centres", {{10, 6}, {38, 18}, {6, 34}}},
        {"concave", {{4, 4}, {40, 4}, {40, 36}, {28, 36}, {28, 16}, {16, 16}, {16, 36}, {4, 36}}},
        {"quarters", {{1, 3}, {47, 9}, {26, 42}, {13, 27}}},
        {"star", {{24, 0}, {38, 44}, {0, 16}, {48, 16}, {10, 44}}},
        {"edges on centres", {{2, 2}, {30, 2}, {30, 30}, {18, 14}, {2, 30}}},
        {"outside", {{-12, -8}, {20, -4}, {16, 24}}},
    };
    for (const auto& [name, points] : cases) {
        SCOPED_TRACE(name);
        OracleRegion oracle;
        oracle.polygon = points;
        const Region region = polygonOf(points);
        const std::vector<PixelRun> expected = oracleRuns(oracle, -10, 30);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(engine::regionRuns(region), expected);

        engine::Rectangle box{expected[0].x1, expected[0].y, expected[0].x2, expected.back().y};
        for (const PixelRun& run : expected) {
            box.x1 = std::min(box.x1, run.x1);
            box.x2 = std::max(box.x2, run.x2);
        }
        const auto bounds = engine::regionBounds(region);
        ASSERT_TRUE(bounds);
        EXPECT_EQ(std::tie(bounds->x1, bounds->y1, bounds->x2, bounds->y2), std::tie(box.x1, box.y1, box.x2, box.y2));
        EXPECT_EQ(engine::regionInside(region, 13, 12), box.x1 >= 0 && box.y1 >= 0 && box.x2 < 13 && box.y2 < 12);
    }
}

TEST(RegionPixels, RectanglesIncludeTheirCorners)
{
    Region r;
    r.rect = {3, 4, 5, 6};
    EXPECT_EQ(engine::regionRuns(r), (std::vector<PixelRun>{{4, 3, 5}, {5, 3, 5}, {6, 3, 5}}));
    EXPECT_TRUE(engine::regionInside(r, 6, 7));
    EXPECT_FALSE(engine::regionInside(r, 5, 7));
    EXPECT_FALSE(engine::regionInside(r, 6, 6));
}

TEST(RegionsFile, EveryBadFileIsRefusedNamingTheFileAndTheRegion)
{
    const auto file = [](const std::string& regions) { return "{\"regions\": [" + regions + "]}"; };
    const std::string a = R"({"name": "A", "rect": [0, 0, 4, 4]})";
    std::string tallTriangles;
    for (int i = 0; i < 6; ++i) {
        tallTriangles += (i ? ", " : "") + std::string(R"({"name": "P)") + std::to_string(i)
                         + R"(", "polygon": [[0, 0], [1, 0], [0, 1000000]]})";
    }
    const struct {
        std::string text;
        std::string region;  // what names the region at fault; empty for the file as a whole
    } cases[] = {
        {"{\"regions\": [", ""},
        {"[1, 2]", ""},
        {"{\"plots\": []}", ""},
        {file(R"({"rect": [0, 0, 1, 1]})"), "1 番目の領域"},
        {file(a + R"(, {"name": "", "rect": [0, 0, 1, 1]})"), "2 番目の領域"},
        {file(a + R"(, {"name": 7, "rect": [0, 0, 1, 1]})"), "2 番目の領域"},
        {file(a + "," + a), "\"A\""},
        {file(R"({"name": "B", "rect": [0, 0, 1, 1], "polygon": [[0, 0], [4, 0], [0, 4]]})"), "\"B\""},
        {file(R"({"name": "B"})"), "\"B\""},
        {file(R"({"name": "B", "rect": [0, 0, 1, 1], "role": "grey"})"), "\"B\""},
        {file(R"({"name": "B", "rect": [0, 0, 1]})"), "\"B\""},
        {file(R"({"name": "B", "rect": [0, 0, 1.5, 1]})"), "\"B\""},
        {file(R"({"name": "B", "rect": [-1, 0, 1, 1]})"), "\"B\""},
        {file(R"({"name": "B", "rect": [2, 0, 1, 1]})"), "\"B\""},
        {file(R"({"name": "B", "rect": [0, 2, 1, 1]})"), "\"B\""},
        {file(R"({"name": "B", "rect": [0, 0, 1, 99999999999]})"), "\"B\""},
        {file(R"({"name": "B", "polygon": [[0, 0], [4, 0]]})"), "\"B\""},
        {file(R"({"name": "B", "polygon": [[0, 0], [4, "x"], [0, 4]]})"), "\"B\""},
        {file(R"({"name": "B", "polygon": [[0, 0], [4, 0], [0, 1e30]]})"), "\"B\""},
        {file(R"({"name": "B", "polygon": [[0, 0], [4, 0], [4, 0.4]]})"), "\"B\""},
        // Rows times points past 2^24: one tall triangle, or the sixth of six.
        {file(R"({"name": "B", "polygon": [[0, 0], [16777216, 0], [0, 16777216]]})"), "\"B\""},
        {file(tallTriangles), "\"P5\""},
        {file(a + R"(, {"name": "W1", "rect": [0, 0, 1, 1], "role": "white"}, {"name": "W2", "rect": [0, 0, 1, 1], "role": "white"})"),
         "\"W2\""},
        {file(a + R"(, {"name": "D1", "rect": [0, 0, 1, 1], "role": "dark"}, {"name": "D2", "rect": [0, 0, 1, 1], "role": "dark"})"),
         "\"D2\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            engine::parseRegions(c.text, "/data/season/regions.json");
            ADD_FAILURE() << "accepted";
        } catch (const engine::RegionsError& e) {
            const std::string what = e.what();
            EXPECT_TRUE(what.starts_with("/data/season/regions.json: ")) << what;
            EXPECT_NE(what.find(c.region), std::string::npos) << what;
            EXPECT_EQ(what.find('\n'), std::string::npos) << what;
        }
    }
}

TEST(RegionsFile, ASetMadeInMemoryIsJudgedInTheFilesWords)
{
    RegionSet set = engine::parseRegions(R"({"regions": [{"name": "A", "rect": [0, 0, 4, 4]}]})", "");
    EXPECT_FALSE(engine::regionsProblem(set));
    set.regions.push_back(set.regions[0]);
    const auto problem = engine::regionsProblem(set);
    ASSERT_TRUE(problem);
    try {
        engine::parseRegions(engine::regionsJson(set), "");
        ADD_FAILURE() << "accepted";
    } catch (const engine::RegionsError& e) {
        EXPECT_EQ(*problem, e.what());
    }
}

TEST(RegionsFile, WrittenAndReadBackToTheSameSetWithUnknownKeysSkipped)
{
    const std::string given = R"({"version": 3, "regions": [
        {"name": "A1", "rect": [100, 200, 180, 260], "colour": "#ff0000"},
        {"name": "A2 \"north\", east", "polygon": [[300, 200], [420.25, 210.1], [400, 300.5], [310, 1e-3]]},
        {"name": "panel", "rect": [20, 30, 60, 70], "role": "white"},
        {"name": "dark", "rect": [70, 30, 90, 70], "role": "dark", "note": {"any": [1, 2]}}
    ]})";
    const RegionSet set = engine::parseRegions(given, "regions.json");
    ASSERT_EQ(set.regions.size(), 4u);
    EXPECT_EQ(set.regions[1].polygon[1], (engine::Vertex{420.25, 210.1}));
    EXPECT_EQ(set.white(), &set.regions[2]);
    EXPECT_EQ(set.dark(), &set.regions[3]);
    EXPECT_EQ(set.plots(), (std::vector<const Region*>{&set.regions[0], &set.regions[1]}));

    const testing_support::TempDir dir;
    const std::string path = dir.path("regions.json").string();
    engine::writeRegionsFile(path, set);
    const RegionSet back = engine::readRegionsFile(path);
    ASSERT_EQ(back.regions.size(), set.regions.size());
    for (std::size_t i = 0; i < set.regions.size(); ++i) {
        const Region& a = set.regions[i];
        const Region& b = back.regions[i];
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.role, b.role);
        EXPECT_EQ(a.polygon, b.polygon);
        EXPECT_EQ(std::tie(a.rect.x1, a.rect.y1, a.rect.x2, a.rect.y2), std::tie(b.rect.x1, b.rect.y1, b.rect.x2, b.rect.y2));
    }
    // The file as the documentation shows it: a region a line.
    const std::string text = engine::regionsJson(set);
    EXPECT_NE(text.find("\n  {\"name\": \"A1\", \"rect\": [100, 200, 180, 260]},\n"), std::string::npos) << text;

    try {
        engine::readRegionsFile(dir.path("missing.json").string());
        ADD_FAILURE() << "accepted";
    } catch (const engine::RegionsError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.json"), std::string::npos);
    }
}

}  // namespace
