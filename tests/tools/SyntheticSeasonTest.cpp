// The synthetic season: the same options give the same files, named and dated one day
// apart, that the engine reads, each with a usable panel under changing light.

#include "SyntheticSeason.h"

#include "engine/Panel.h"
#include "engine/PictureReader.h"

#include "BmpFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
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
