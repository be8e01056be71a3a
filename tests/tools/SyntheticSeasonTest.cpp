// The synthetic season: the same options give the same files, named and dated one day
// apart, that the engine reads, each with a usable panel under changing light.

#include "SyntheticSeason.h"

#include "engine/calibration/Panel.h"
#include "engine/formats/PictureReader.h"
#include "engine/season/Regions.h"
#include "engine/season/Season.h"

#include "BmpFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using season_sample::SeasonOptions;
using testing_support::readFile;
using testing_support::TempDir;

SeasonOptions small(int frames = 4)
{
    SeasonOptions o;
    o.width = 96;
    o.height = 72;
    o.frames = frames;
    return o;
}

std::vector<std::string> namesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SyntheticSeason, SameOptionsSameBytesAnotherSeedOtherFrames)
{
    const TempDir dir;
    season_sample::writeSeason(dir.path("a"), small());
    season_sample::writeSeason(dir.path("b"), small());
    SeasonOptions reseeded = small();
    reseeded.seed = 2;
    season_sample::writeSeason(dir.path("c"), reseeded);

    const std::vector<std::string> expected = {"cam_20260501_100000.bmp", "cam_20260502_100000.bmp",
                                               "cam_20260503_100000.bmp", "cam_20260504_100000.bmp", "regions.json"};
    ASSERT_EQ(namesIn(dir.path("a")), expected);
    ASSERT_EQ(namesIn(dir.path("c")), expected);
    for (const std::string& name : expected) {
        SCOPED_TRACE(name);
        const auto a = readFile(dir.path("a") / name);
        EXPECT_EQ(a, readFile(dir.path("b") / name));
        // The seed moves the light, the noise and the growth, not where the plots are.
        if (name == "regions.json") {
            EXPECT_EQ(a, readFile(dir.path("c") / name));
        } else {
            EXPECT_NE(a, readFile(dir.path("c") / name));
        }
    }
}

TEST(SyntheticSeason, FramesTheEngineReadsDatedByTheirNames)
{
    const TempDir dir;
    SeasonOptions options = small(30);
    const auto frames = season_sample::writeSeason(dir.dir(), options);
    ASSERT_EQ(frames.size(), 30u);
    EXPECT_EQ(frames.back().filename(), "cam_20260530_100000.bmp");

    const season_sample::Layout layout = season_sample::seasonLayout(options);
    const std::array<engine::Rectangle, 2> targets = {
        engine::Rectangle{layout.panel[0], layout.panel[1], layout.panel[2], layout.panel[3]},
        engine::Rectangle{layout.dark[0], layout.dark[1], layout.dark[2], layout.dark[3]}};
    int brightest = 0, dullest = 255;
    for (const auto& frame : frames) {
        SCOPED_TRACE(frame.filename().string());
        // Modified at the local time its name gives.
        struct stat st {};
        ASSERT_EQ(::stat(frame.c_str(), &st), 0);
        std::tm local{};
        ::localtime_r(&st.st_mtime, &local);
        char name[64];
        std::strftime(name, sizeof name, "cam_%Y%m%d_%H%M%S.bmp", &local);
        EXPECT_EQ(frame.filename(), name);

        auto reader = engine::PictureReader::open(frame.string());
        ASSERT_NO_THROW(reader.require24Bit(engine::PictureReader::Signature::Names));
        EXPECT_EQ(reader.width(), options.width);
        EXPECT_EQ(reader.height(), options.height);
        // A panel the calibration rules accept, far above the dark target, in every
        // frame; dim at worst on a clouded day, never saturated nor uneven.
        const auto counts = engine::countPixels(reader, targets);
        const int nirWhite = engine::whiteValue(counts[0].nir, counts[0].pixels, engine::WhiteFrom::Maximum);
        const int redWhite = engine::whiteValue(counts[0].red, counts[0].pixels, engine::WhiteFrom::Maximum);
        for (const auto& warning : engine::panelChecks(counts[0], nirWhite, redWhite))
            EXPECT_EQ(warning.check, engine::PanelCheck::Dim) << warning.text;
        EXPECT_LT(engine::darkValue(counts[1].nir, counts[1].pixels), 16);
        EXPECT_GT(nirWhite, 80);
        brightest = std::max(brightest, nirWhite);
        dullest = std::min(dullest, nirWhite);
    }
    // The light changes: clear days and clouded ones.
    EXPECT_GT(brightest, 200);
    EXPECT_LT(dullest, 160);
}

TEST(SyntheticSeason, RefusesBadOptionsAndKeepsExistingFiles)
{
    const struct {
        int width, height, frames, plots;
    } bad[] = {{63, 72, 4, 6}, {96, 47, 4, 6}, {20001, 72, 4, 6}, {96, 72, 0, 6},
               {96, 72, 4, 0}, {96, 72, 4, 65}, {64, 48, 4, 40}};  // the last: plots too small to hold
    for (const auto& c : bad) {
        SeasonOptions o = small(c.frames);
        o.width = c.width;
        o.height = c.height;
        o.plots = c.plots;
        EXPECT_TRUE(season_sample::optionsProblem(o)) << c.width << "x" << c.height << " " << c.frames << " " << c.plots;
    }

    for (const char* text : {"2026-05-01T10:00:00", "2024-02-29T23:59:59"})
        EXPECT_TRUE(season_sample::parseLocalTime(text)) << text;
    for (const char* text : {"", "2026-05-01", "2026-05-01 10:00:00", "2026-05-01T10:00:00Z", "2026-13-01T10:00:00",
                             "2026-02-30T10:00:00", "2026-05-01T24:00:00", "2026-5-01T10:00:00"})
        EXPECT_FALSE(season_sample::parseLocalTime(text)) << text;

    const TempDir dir;
    const auto mine = dir.path("cam_20260503_100000.bmp");
    testing_support::writeFile(mine, {'m', 'i', 'n', 'e'});
    EXPECT_THROW(season_sample::writeSeason(dir.dir(), small()), std::runtime_error);
    EXPECT_EQ(namesIn(dir.dir()), std::vector<std::string>{"cam_20260503_100000.bmp"});
    EXPECT_EQ(readFile(mine), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
    SeasonOptions replacing = small();
    replacing.replace = true;
    season_sample::writeSeason(dir.dir(), replacing);
    EXPECT_EQ(namesIn(dir.dir()).size(), 5u);
    EXPECT_NE(readFile(mine).size(), 4u);
}

}  // namespace

namespace {

// Each plot's NDVI mean on each frame, as the season's table gives it, each frame
// calibrated by its own panel, and the frames' white values.
struct Story {
    std::vector<std::string> plots;
    std::vector<std::vector<double>> means;  // [plot][frame]
    std::vector<int> nirWhite;               // [frame]
};

Story tellStory(const std::filesystem::path& folder, const std::vector<std::filesystem::path>& frames)
{
    const engine::RegionSet regions = engine::readRegionsFile((folder / "regions.json").string());
    Story story;
    for (const engine::Region* plot : regions.plots()) story.plots.push_back(plot->name);
    story.means.resize(story.plots.size());
    for (const auto& frame : frames) {
        auto reader = engine::PictureReader::open(frame.string());
        reader.require24Bit();
        const engine::FrameFigures figures = engine::seasonFrameFigures(reader, regions, {});
        for (std::size_t p = 0; p < figures.plots.size(); ++p) story.means[p].push_back(figures.plots[p].mean.value());
        story.nirWhite.push_back(static_cast<int>(figures.model.nir.dnWhite));
    }
    return story;
}

double meanOf(const std::vector<double>& v, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += v[i];
    return sum / static_cast<double>(to - from);
}

TEST(SyntheticSeason, TheSeasonsTableTellsItsStory)
{
    const TempDir dir;
    SeasonOptions options = small(30);
    options.width = 192;
    options.height = 144;
    const auto frames = season_sample::writeSeason(dir.dir(), options);
    const season_sample::Layout layout = season_sample::seasonLayout(options);

    // The frames sort by their names' times as by their modification times.
    const auto byName = *engine::TimeSource::byText("name:cam_%Y%m%d_%H%M%S");
    const auto byMtime = *engine::TimeSource::byText("mtime");
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(engine::frameTime(frames[i].string(), byName), engine::frameTime(frames[i].string(), byMtime));
        if (i > 0) {
            EXPECT_LT(engine::frameTime(frames[i - 1].string(), byName), engine::frameTime(frames[i].string(), byName));
        }
    }

    const Story story = tellStory(dir.dir(), frames);
    ASSERT_EQ(story.plots.size(), layout.plots.size());
    // The light changed a lot, from clear days to clouded ones ...
    const auto [dullest, brightest] = std::minmax_element(story.nirWhite.begin(), story.nirWhite.end());
    EXPECT_GT(*brightest, 1.5 * *dullest);
    // ... yet, each frame calibrated by its own panel, the growing plots' NDVI rises
    // from third to third of the season, and the stalled one's stops: it ends where it
    // was in the middle third, well below the others.
    const std::size_t third = frames.size() / 3;
    double stalledEnd = 0, lowestGrownEnd = 1;
    for (std::size_t p = 0; p < story.plots.size(); ++p) {
        SCOPED_TRACE(story.plots[p]);
        EXPECT_EQ(story.plots[p], layout.plots[p].name);
        const std::vector<double>& m = story.means[p];
        const double early = meanOf(m, 0, third), middle = meanOf(m, third, 2 * third), late = meanOf(m, 2 * third, m.size());
        if (layout.plots[p].stalls) {
            EXPECT_GT(middle, early + 0.1);
            EXPECT_NEAR(late, middle, 0.03);
            stalledEnd = late;
        } else {
            EXPECT_GT(middle, early + 0.1);
            EXPECT_GT(late, middle + 0.1);
            EXPECT_GT(meanOf(m, m.size() - 3, m.size()), meanOf(m, 0, 3) + 0.4);
            lowestGrownEnd = std::min(lowestGrownEnd, late);
        }
    }
    EXPECT_LT(stalledEnd, lowestGrownEnd - 0.2);
}

}  // namespace

namespace {

// The hand-held season: every frame through a view of its own, the card laid anew.
// Anchored on the first frame, the plots are followed and calibrated by the card's
// panel; the frames whose tags are covered are refused with the reason.
TEST(HandHeldSeason, PlotsFollowedToTheirTrueNdviAndCoveredFramesRefused)
{
    const TempDir dir;
    SeasonOptions options = small(8);
    options.width = 1024;
    options.height = 768;
    options.markers = true;
    const auto frames = season_sample::writeSeason(dir.dir(), options);
    const engine::RegionSet drawn = engine::readRegionsFile((dir.dir() / "regions.json").string());
    ASSERT_TRUE(drawn.usesMarkers());

    auto first = engine::PictureReader::open(frames[0].string());
    first.require24Bit();
    const engine::RegionSet regions = engine::anchorRegions(drawn, engine::findTags(engine::greenOf(first).view()));
    ASSERT_EQ(regions.markers->reference.size(), 4u);

    const season_sample::Layout layout = season_sample::seasonLayout(options);
    double worstNdvi = 0, worstCorner = 0;
    for (int f = 0; f < options.frames; ++f) {
        SCOPED_TRACE(frames[f].filename().string());
        auto reader = engine::PictureReader::open(frames[f].string());
        reader.require24Bit();
        if (f == season_sample::kPanelTagCoveredFrame || f == season_sample::kFieldTagsCoveredFrame) {
            try {
                engine::seasonFrameFigures(reader, regions, {});
                ADD_FAILURE() << "placed although its tags are covered";
            } catch (const engine::RegionsError& e) {
                const std::string why = e.what();
                EXPECT_NE(why.find(frames[f].string()), std::string::npos) << why;
                EXPECT_NE(why.find(f == season_sample::kPanelTagCoveredFrame ? "マーカー 7 が見つかりません" : "見つからないマーカー: 1, 2, 3"),
                          std::string::npos)
                    << why;
            }
            continue;
        }
        const engine::FrameFigures figures = engine::seasonFrameFigures(reader, regions, {});
        ASSERT_TRUE(figures.registration);
        EXPECT_EQ(figures.registration->fieldFound, 4);
        ASSERT_TRUE(figures.registration->rmsPx);
        EXPECT_LT(*figures.registration->rmsPx, 1.0);
        EXPECT_TRUE(figures.panelWarnings.empty());

        // Every field tag's corners where the frame's view puts them.
        const auto view = season_sample::frameView(options, f);
        for (int id = 0; id < 4; ++id) {
            const auto& found = figures.registration->tags;
            const auto tag = std::find_if(found.begin(), found.end(), [&](const engine::FoundTag& t) { return t.id == id; });
            ASSERT_NE(tag, found.end()) << id;
            const season_sample::Point origin = layout.fieldTags[static_cast<std::size_t>(id)];
            const double s = layout.tagSide;
            const double corners[4][2] = {{0, 0}, {s, 0}, {s, s}, {0, s}};
            for (int k = 0; k < 4; ++k) {
                const double x = origin.x + corners[k][0], y = origin.y + corners[k][1];
                const double q = view[6] * x + view[7] * y + view[8];
                const double ex = (view[0] * x + view[1] * y + view[2]) / q, ey = (view[3] * x + view[4] * y + view[5]) / q;
                worstCorner = std::max(worstCorner, std::hypot(tag->corners[k].x - ex, tag->corners[k].y - ey));
            }
        }
        const std::vector<double> truth = season_sample::plotTruth(options, f);
        ASSERT_EQ(figures.plots.size(), truth.size());
        for (std::size_t p = 0; p < truth.size(); ++p) {
            worstNdvi = std::max(worstNdvi, std::fabs(figures.plots[p].mean.value() - truth[p]));
        }
    }
    EXPECT_LT(worstCorner, 0.3);
    EXPECT_LT(worstNdvi, 0.01);
    RecordProperty("worst_corner_px", std::to_string(worstCorner));
    RecordProperty("worst_plot_ndvi_error", std::to_string(worstNdvi));
}

// The long season: frames 2 to 6 days apart but for one fortnight's gap, and every plot
// but the stalled one greening up and then senescing back near where it began.
TEST(SyntheticSeason, LongSeasonRisesAndFalls)
{
    SeasonOptions o;
    o.longSeason = true;
    o.frames = season_sample::kLongSeasonFrames;
    int gaps = 0;
    for (int f = 1; f < o.frames; ++f) {
        const int step = season_sample::frameDay(o, f) - season_sample::frameDay(o, f - 1);
        if (step > 6) {
            EXPECT_GE(step, 16);
            ++gaps;
        } else {
            EXPECT_GE(step, 2);
        }
    }
    EXPECT_EQ(gaps, 1);
    for (int p = 0; p < o.plots; ++p) {
        double top = 0;
        for (int f = 0; f < o.frames; ++f) top = std::max(top, season_sample::plotCover(o, p, f));
        const double first = season_sample::plotCover(o, p, 0), last = season_sample::plotCover(o, p, o.frames - 1);
        EXPECT_GT(top - first, 0.15) << p;
        if (p == 2) {
            EXPECT_NEAR(last, top, 0.01);  // A3 stalls and never senesces
        } else {
            EXPECT_GT(top - last, 0.5) << p;
        }
    }
}

}  // namespace
