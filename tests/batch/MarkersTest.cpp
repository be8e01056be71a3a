// zrvimage-batch and the markers: anchor ties a regions file to the field tags of its
// reference frame; series carries the regions over to frames taken from elsewhere and
// draws what it placed; ndvi and calibrate read the panel from a regions file; tags
// prints the markers on a sheet of A4.

#include "BatchRun.h"
#include "MarkerScene.h"
#include "ReadBack.h"
#include "SeasonOracle.h"

#include "batch/Overlay.h"
#include "engine/season/Regions.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using namespace batch_testing;
using testing_support::TempDir;
namespace fs = std::filesystem;

// A frame of the scene written as a BMP.
fs::path writeFrame(const TempDir& dir, const std::string& name, const MarkerScene& scene, const SceneView& view = {})
{
    const fs::path path = dir.path(name);
    testing_support::writeFile(path, testing_support::encodeBmp(scene.frame(view)));
    return path;
}

// The regions drawn on the reference frame, anchored by the batch itself.
fs::path anchoredRegions(const TempDir& dir, const fs::path& reference, bool panelOnTag = true)
{
    const MarkerScene scene;
    writeText(dir.path("drawn.json"), engine::regionsJson(scene.regions(panelOnTag)));
    const BatchResult r = runBatch({"anchor", u8(reference), "--regions", u8(dir.path("drawn.json")), "-o",
                                    u8(dir.path("anchored.json"))});
    EXPECT_EQ(r.status, 0) << r.err;
    return dir.path("anchored.json");
}

TEST(Anchor, WritesTheFieldTagsCornersAsTheReferenceAndTellsEveryTagFound)
{
    const TempDir dir;
    const MarkerScene scene;
    const fs::path frame = writeFrame(dir, "reference.bmp", scene);
    writeText(dir.path("drawn.json"), engine::regionsJson(scene.regions()));
    const BatchResult r = runBatch({"anchor", u8(frame), "--regions", u8(dir.path("drawn.json")), "-o",
                                    u8(dir.path("anchored.json"))});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Each tag's centre is its pattern's, 40 pixels in from its top-left corner, within
    // what the detector's corners are good to.
    const std::regex line("マーカー ([0-9]+)(（圃場）)?: 中心 \\(([0-9.]+), ([0-9.]+)\\)\n");
    std::string rest = r.out;
    for (const auto& placed : scene.tags) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(rest, m, line)) << rest;
        EXPECT_EQ(m.position(0), 0);
        EXPECT_EQ(m[1].str(), std::to_string(placed.id));
        EXPECT_EQ(m[2].matched, placed.id != 7);
        EXPECT_NEAR(std::stod(m[3]), placed.x + 40, 0.3);
        EXPECT_NEAR(std::stod(m[4]), placed.y + 40, 0.3);
        rest = m.suffix();
    }
    EXPECT_EQ(rest, "圃場のマーカー 4/4 個を基準として " + u8(dir.path("anchored.json")) + " に書きました\n");

    const engine::RegionSet read = engine::parseRegions(readText(dir.path("anchored.json")), "anchored.json");
    ASSERT_TRUE(read.markers);
    EXPECT_EQ(read.markers->field, (std::vector<int>{0, 1, 2, 3}));
    ASSERT_EQ(read.markers->reference.size(), 4u);
    for (const auto& placed : scene.tags) {
        if (placed.id == 7) continue;
        // The border's outer corners, one cell in from the pattern's: top-left first.
        const engine::TagCorners expected = {{{placed.x + 8.0, placed.y + 8.0}, {placed.x + 72.0, placed.y + 8.0},
                                              {placed.x + 72.0, placed.y + 72.0}, {placed.x + 8.0, placed.y + 72.0}}};
        const engine::TagCorners& found = read.markers->reference.at(placed.id);
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(found[k].x, expected[k].x, 0.5) << "tag " << placed.id << " corner " << k;
            EXPECT_NEAR(found[k].y, expected[k].y, 0.5) << "tag " << placed.id << " corner " << k;
        }
    }
    // The regions themselves are as drawn.
    engine::RegionSet drawn = scene.regions();
    EXPECT_EQ(read.regions.size(), drawn.regions.size());
    EXPECT_EQ(read.regions[0].rect.x1, drawn.regions[0].rect.x1);
    EXPECT_EQ(read.regions[2].tag, std::optional<int>(7));
}

TEST(Anchor, RefusesWithoutWritingAndSaysWhy)
{
    struct Case {
        const char* name;
        std::set<int> covered;
        std::vector<std::string> extra;  // after the command line
        bool outputThere;
        int status;
        std::string said;
    };
    const std::vector<Case> cases = {
        {"three field tags covered", {1, 2, 3}, {}, false, 1, "見つからないマーカー: 1, 2, 3"},
        {"all four covered", {0, 1, 2, 3}, {}, false, 1, "見つからないマーカー: 0, 1, 2, 3"},
        {"an output already there", {}, {}, true, 2, "--force"},
        {"no regions file", {}, {"--regions-missing"}, false, 2, "--help"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        const MarkerScene scene;
        const fs::path frame = writeFrame(dir, "reference.bmp", scene, {0, 0, 0, c.covered});
        writeText(dir.path("drawn.json"), engine::regionsJson(scene.regions()));
        const fs::path out = dir.path("anchored.json");
        if (c.outputThere) writeText(out, "kept");
        std::vector<std::string> args = {"anchor", u8(frame), "--regions", u8(dir.path("drawn.json")), "-o", u8(out)};
        if (!c.extra.empty()) args = {"anchor", u8(frame), "-o", u8(out)};
        const BatchResult r = runBatch(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        if (c.outputThere) {
            EXPECT_EQ(readText(out), "kept");
        } else {
            EXPECT_FALSE(fs::exists(out));
        }
        EXPECT_EQ(filesIn(dir.dir()).size(), c.outputThere ? 3u : 2u);  // no temporary left
    }
}

TEST(Anchor, RefusesAnOutputThatIsItsRegionsFileOrItsFrame)
{
    const TempDir dir;
    const MarkerScene scene;
    const fs::path frame = writeFrame(dir, "reference.bmp", scene);
    writeText(dir.path("drawn.json"), engine::regionsJson(scene.regions()));
    const std::string drawn = readText(dir.path("drawn.json"));
    const auto frameBytes = testing_support::readFile(frame);
    for (const fs::path& out : {dir.path("drawn.json"), frame}) {
        const BatchResult r = runBatch({"anchor", u8(frame), "--regions", u8(dir.path("drawn.json")), "-o", u8(out), "--force"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("入力ファイルと同じファイルには保存できません"), std::string::npos) << r.err;
    }
    EXPECT_EQ(readText(dir.path("drawn.json")), drawn);
    EXPECT_EQ(testing_support::readFile(frame), frameBytes);
}

std::vector<std::vector<std::string>> csvRecords(const fs::path& csv)
{
    return testing_support::parseCsv(readText(csv));
}

TEST(Series, CarriesTheRegionsOverMovedFramesDrawsEachPlacedFrameAndNamesOneItCannotPlace)
{
    const TempDir dir;
    const MarkerScene scene;
    const fs::path reference = writeFrame(dir, "day1.bmp", scene);
    const fs::path moved = writeFrame(dir, "day2.bmp", scene, {3.0, 14, -9, {}});
    const fs::path noPanel = writeFrame(dir, "day3.bmp", scene, {-2.0, -6, 5, {7}});
    const fs::path regions = anchoredRegions(dir, reference);
    const fs::path overlays = dir.path("overlays");
    const BatchResult r = runBatch({"series", u8(reference), u8(moved), u8(noPanel), "--regions", u8(regions), "--csv",
                                    u8(dir.path("season.csv")), "--overlay-dir", u8(overlays), "-j", "2"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(u8(noPanel) + ": マーカー 7 が見つかりません"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("失敗したファイル 1/3: " + u8(noPanel)), std::string::npos) << r.err;

    const auto records = csvRecords(dir.path("season.csv"));
    ASSERT_EQ(records.size(), 5u);  // the header and two plots of two frames
    EXPECT_EQ(records[0].back(), "registration_rms_px");
    for (std::size_t k = 1; k < records.size(); ++k) {
        EXPECT_NE(records[k][0], u8(noPanel));
        EXPECT_EQ(records[k][records[k].size() - 2], "4");  // every field tag found
        EXPECT_LT(std::stod(records[k].back()), 1.0);
        // The plots' own colours, wherever the frame put them: A1's NIR 190, A2's 150.
        // The panel found by its own tag: its bytes are the white values.
        EXPECT_EQ(records[k][15], "225");
        EXPECT_EQ(records[k][16], "215");
        EXPECT_EQ(records[k][17], "");  // no check failed, the dark target's neither
        const double nirMean = std::stod(records[k][12]);
        EXPECT_NEAR(nirMean, records[k][2] == "A1" ? 190 : 150, 1.0) << records[k][0] << " " << records[k][2];
    }

    EXPECT_EQ(filesIn(overlays), (std::vector<std::string>{"day1.png", "day2.png"}));
    for (const char* name : {"day1.png", "day2.png"}) {
        SCOPED_TRACE(name);
        const DecodedPng png = decodePng(testing_support::readFile(overlays / name));
        ASSERT_TRUE(png.decoded);
        EXPECT_EQ(png.width, 640);
        EXPECT_EQ(png.height, 480);
        const auto has = [&](const std::uint8_t (&c)[3]) {
            return std::count(png.pixels.begin(), png.pixels.end(), Rgba{c[0], c[1], c[2], 255}) > 100;
        };
        EXPECT_TRUE(has(batch::kPlotColour));
        EXPECT_TRUE(has(batch::kWhiteColour));
        EXPECT_TRUE(has(batch::kDarkColour));
        EXPECT_TRUE(has(batch::kTagColour));
    }
    // On the unmoved frame the plot's outline runs along its pixel edges, in false
    // colour around it: the frame's red byte shown red.
    const DecodedPng day1 = decodePng(testing_support::readFile(overlays / "day1.png"));
    const auto c = batch::kPlotColour;
    EXPECT_EQ(day1.at(180, 120), (Rgba{c[0], c[1], c[2], 255}));
    EXPECT_EQ(day1.at(180, 150), (Rgba{190, 50, 40, 255}));
}

TEST(Series, OverlaysAlreadyThereAreKeptWithoutForce)
{
    const TempDir dir;
    const MarkerScene scene;
    const fs::path reference = writeFrame(dir, "day1.bmp", scene);
    const fs::path regions = anchoredRegions(dir, reference);
    fs::create_directory(dir.path("overlays"));
    writeText(dir.path("overlays") / "day1.png", "kept");
    const std::vector<std::string> args = {"series", u8(reference), "--regions", u8(regions), "--csv",
                                           u8(dir.path("season.csv")), "--overlay-dir", u8(dir.path("overlays"))};
    BatchResult r = runBatch(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("--force"), std::string::npos);
    EXPECT_EQ(readText(dir.path("overlays") / "day1.png"), "kept");
    EXPECT_FALSE(fs::exists(dir.path("season.csv")));

    std::vector<std::string> forced = args;
    forced.push_back("--force");
    r = runBatch(forced);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(decodePng(testing_support::readFile(dir.path("overlays") / "day1.png")).decoded);
}

// The raster and the model of a frame read by its panel region placed by the markers are
// those of the same panel given as a rectangle.
TEST(PanelByRegions, NdviAndCalibrateGiveWhatTheEquivalentRectangleGives)
{
    const TempDir dir;
    const MarkerScene scene;
    const fs::path frame = writeFrame(dir, "day1.bmp", scene);
    const fs::path regions = anchoredRegions(dir, frame, false);
    const engine::Rectangle w = scene.regions(false).regions[2].rect;
    const engine::Rectangle d = scene.regions(false).regions[3].rect;
    const std::string white = std::to_string(w.x1) + "," + std::to_string(w.y1) + "," + std::to_string(w.x2) + ","
                              + std::to_string(w.y2);
    const std::string dark = std::to_string(d.x1) + "," + std::to_string(d.y1) + "," + std::to_string(d.x2) + ","
                             + std::to_string(d.y2);
    const std::vector<std::string> reflectances = {"--panel-reflectance", "0.9,0.88", "--dark-reflectance", "0.04,0.03",
                                                   "--white-from", "mean"};
    const auto with = [&](std::vector<std::string> args) {
        args.insert(args.end(), reflectances.begin(), reflectances.end());
        return runBatch(args);
    };
    const BatchResult byRect = with({"calibrate", u8(frame), "--white-rect", white, "--dark-rect", dark, "-o", u8(dir.path("rect.json"))});
    const BatchResult byRegions = with({"calibrate", u8(frame), "--regions", u8(regions), "-o", u8(dir.path("regions.json"))});
    ASSERT_EQ(byRect.status, 0) << byRect.err;
    ASSERT_EQ(byRegions.status, 0) << byRegions.err;
    EXPECT_EQ(byRegions.out, byRect.out);
    EXPECT_EQ(byRegions.err, byRect.err);

    const BatchResult ndviRect = runBatch({"ndvi", u8(frame), "--calibration", u8(dir.path("rect.json")), "-o", u8(dir.path("rect.raw"))});
    const BatchResult ndviRegions = with({"ndvi", u8(frame), "--regions", u8(regions), "-o", u8(dir.path("regions.raw"))});
    ASSERT_EQ(ndviRect.status, 0) << ndviRect.err;
    ASSERT_EQ(ndviRegions.status, 0) << ndviRegions.err;
    const auto raster = testing_support::readFile(dir.path("regions.raw"));
    EXPECT_EQ(raster.size(), 640u * 480u * 4u);
    EXPECT_EQ(raster, testing_support::readFile(dir.path("rect.raw")));
}

TEST(PanelByRegions, AFrameWhosePanelCannotBePlacedFailsAlone)
{
    const TempDir dir;
    const MarkerScene scene;
    const fs::path reference = writeFrame(dir, "day1.bmp", scene);
    const fs::path covered = writeFrame(dir, "day2.bmp", scene, {0, 0, 0, {7}});
    const fs::path regions = anchoredRegions(dir, reference);
    fs::create_directory(dir.path("out"));
    const BatchResult r = runBatch({"ndvi", u8(reference), u8(covered), "--regions", u8(regions), "--out-dir", u8(dir.path("out"))});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(u8(covered) + ": マーカー 7 が見つかりません"), std::string::npos) << r.err;
    EXPECT_EQ(filesIn(dir.path("out")), (std::vector<std::string>{"day1.raw"}));
}

// How many tags a sheet holds, from the SVG's own text.
std::size_t countOf(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(Tags, SvgSheetIsA4InMillimetresWithEachTagsBorderExactlyTheSizeAsked)
{
    const TempDir dir;
    const BatchResult r = runBatch({"tags", "--ids", "0-3,7", "--size-mm", "60", "-o", u8(dir.path("sheet.svg"))});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = readText(dir.path("sheet.svg"));
    EXPECT_NE(svg.find("width=\"210mm\" height=\"297mm\" viewBox=\"0 0 210 297\""), std::string::npos);
    EXPECT_EQ(countOf(svg, "class=\"tag\""), 5u);
    for (const int id : {0, 1, 2, 3, 7}) {
        SCOPED_TRACE(id);
        const auto begin = svg.find("id=\"tag-" + std::to_string(id) + "\"");
        ASSERT_NE(begin, std::string::npos);
        const auto end = svg.find("</g>", begin);
        // The black cells' extent: the border's outer side.
        double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
        const std::regex rect("<rect x=\"([0-9.]+)\" y=\"([0-9.]+)\" width=\"([0-9.]+)\" height=\"([0-9.]+)\"/>");
        const std::string group = svg.substr(begin, end - begin);
        int cells = 0;
        for (auto it = std::sregex_iterator(group.begin(), group.end(), rect); it != std::sregex_iterator(); ++it) {
            const double x = std::stod((*it)[1]), y = std::stod((*it)[2]), w = std::stod((*it)[3]), h = std::stod((*it)[4]);
            left = std::min(left, x);
            right = std::max(right, x + w);
            top = std::min(top, y);
            bottom = std::max(bottom, y + h);
            ++cells;
        }
        EXPECT_GT(cells, 8);
        EXPECT_NEAR(right - left, 60.0, 1e-3);
        EXPECT_NEAR(bottom - top, 60.0, 1e-3);
        EXPECT_NE(svg.find(">ID " + std::to_string(id) + " (60 mm)</text>"), std::string::npos);
    }
    EXPECT_NE(svg.find(">50 mm</text>"), std::string::npos);
}

TEST(Tags, PngSheetIsA4At300Dpi)
{
    const TempDir dir;
    const BatchResult r = runBatch({"tags", "--ids", "0-3,7", "--size-mm", "60", "-o", u8(dir.path("sheet.png"))});
    ASSERT_EQ(r.status, 0) << r.err;
    const DecodedPng png = decodePng(testing_support::readFile(dir.path("sheet.png")));
    ASSERT_TRUE(png.decoded);
    EXPECT_EQ(png.width, 2480);
    EXPECT_EQ(png.height, 3508);
    // The first tag's border: its top row of cells is black from side to side, 60 mm
    // (708.66 pixels) long.
    int top = -1;
    for (int y = 0; y < png.height && top < 0; ++y) {
        for (int x = 0; x < png.width / 2; ++x) {
            if (png.at(x, y).r == 0) {
                top = y;
                break;
            }
        }
    }
    ASSERT_GE(top, 0);
    int first = -1, last = -1;
    for (int x = 0; x < png.width; ++x) {
        const bool black = png.at(x, top + 10).r == 0;
        if (black && first < 0) first = x;
        if (!black && first >= 0) break;
        if (black) last = x;
    }
    EXPECT_NEAR(last - first + 1, 60 * 300 / 25.4, 2.0);
}

TEST(Tags, BadUsage)
{
    const struct {
        std::vector<std::string> args;
        std::string said;
    } cases[] = {
        {{"--ids", "0-40", "--size-mm", "60"}, "1 枚に 6 個までです（指定は 41 個）"},
        {{"--ids", "586-587", "--size-mm", "60"}, "0 から 586 まで"},
        {{"--ids", "3-1", "--size-mm", "60"}, "--ids は"},
        {{"--ids", "1,1", "--size-mm", "60"}, "二度"},
        {{"--ids", "1", "--size-mm", "0"}, "--size-mm"},
        {{"--ids", "1", "--size-mm", "300"}, "収まりません"},
        {{"--size-mm", "60"}, "--ids"},
    };
    for (const auto& c : cases) {
        const TempDir dir;
        std::vector<std::string> args = {"tags", "-o", u8(dir.path("sheet.svg"))};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const BatchResult r = runBatch(args);
        EXPECT_EQ(r.status, 2) << c.said;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.path("sheet.svg")));
    }
}

}  // namespace

namespace {

TEST(MarkerOptions, BadUsageEndsWithStatus2BeforeAnythingIsWritten)
{
    const TempDir dir;
    const MarkerScene scene;
    const fs::path frame = writeFrame(dir, "day1.bmp", scene);
    writeText(dir.path("drawn.json"), engine::regionsJson(scene.regions()));
    engine::RegionSet noPanel = scene.regions();
    noPanel.regions.erase(noPanel.regions.begin() + 2);
    writeText(dir.path("nopanel.json"), engine::regionsJson(noPanel));
    engine::RegionSet noField = scene.regions();
    noField.markers.reset();
    writeText(dir.path("nofield.json"), engine::regionsJson(noField));
    const std::string f = u8(frame), drawn = u8(dir.path("drawn.json")), out = u8(dir.path("out.json"));
    const struct {
        std::vector<std::string> args;
        std::string said;
    } cases[] = {
        {{"anchor", f, "--regions", drawn}, "-o で書き出す領域ファイルを指定してください"},
        {{"anchor", f, f, "--regions", drawn, "-o", out}, "anchor の入力ファイルは一つ"},
        {{"anchor", f, "-o", out}, "--regions で領域ファイルを指定してください"},
        {{"anchor", f, "--regions", u8(dir.path("nofield.json")), "-o", out}, "圃場のマーカー（markers の field）がありません"},
        {{"anchor", f, "--regions", drawn, "-o", out, "--csv", "x.csv"}, "--csv は anchor では使えません"},
        {{"ndvi", f, "--regions", drawn, "--nir-white", "200", "-o", u8(dir.path("a.raw"))}, "--regions は --nir-white と同時に使えません"},
        {{"ndvi", f, "--nir-white", "200", "--red-white", "200", "--white-from", "mean", "-o", u8(dir.path("a.raw"))},
         "ndvi の --white-from は --regions と一緒に指定してください"},
        {{"ndvi", f, "--regions", u8(dir.path("nopanel.json")), "-o", u8(dir.path("a.raw"))}, "白色板の領域（role が white）がありません"},
        {{"calibrate", f, "--regions", drawn, "--white-rect", "1,1,2,2", "-o", out}, "--white-rect と --regions は同時に使えません"},
        {{"calibrate", f, "--regions", drawn, "--dark-rect", "1,1,2,2", "-o", out}, "--dark-rect は --regions と同時に使えません"},
        {{"ndvi", f, "--nir-white", "200", "--red-white", "200", "--overlay-dir", u8(dir.path("o")), "-o", u8(dir.path("a.raw"))},
         "--overlay-dir は ndvi では使えません"},
        {{"series", f, "--regions", drawn, "--csv", u8(dir.path("day1.png")), "--overlay-dir", u8(dir.dir())},
         "入力ファイルと同じファイルには保存できません"},
        {{"tags", f, "--ids", "1", "--size-mm", "60", "-o", u8(dir.path("s.svg"))}, "tags は入力ファイルを取りません"},
        {{"tags", "--ids", "1", "--size-mm", "60", "-o", u8(dir.path("s.pdf"))}, ".svg か .png"},
    };
    const std::vector<std::string> before = filesIn(dir.dir());
    for (const auto& c : cases) {
        const BatchResult r = runBatch(c.args);
        EXPECT_EQ(r.status, 2) << c.said << "\n" << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(filesIn(dir.dir()), before) << c.said;
    }
}

TEST(Tags, AnExistingSheetIsKeptWithoutForce)
{
    const TempDir dir;
    writeText(dir.path("sheet.svg"), "kept");
    const std::vector<std::string> args = {"tags", "--ids", "5", "--size-mm", "40", "-o", u8(dir.path("sheet.svg"))};
    BatchResult r = runBatch(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(readText(dir.path("sheet.svg")), "kept");
    std::vector<std::string> forced = args;
    forced.push_back("--force");
    r = runBatch(forced);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(countOf(readText(dir.path("sheet.svg")), "class=\"tag\""), 1u);
}

}  // namespace

namespace {

TEST(Overlay, TakesEveryStepthPixelSoThatTheLongestSideIsAt1024OrBelow)
{
    const struct {
        std::int64_t width, height;
        int step;
    } cases[] = {{640, 480, 1}, {1024, 1024, 1}, {1025, 10, 2}, {10, 2049, 3}, {4000, 3000, 4}, {1, 1, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(batch::overlayStep(c.width, c.height), c.step) << c.width << "x" << c.height;
    }
    EXPECT_EQ(batch::overlayName("/some/where/cam_0601.bmp"), "cam_0601.png");
}

}  // namespace
