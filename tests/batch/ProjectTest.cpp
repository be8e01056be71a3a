// zrvimage-batch series --project: a season kept as one file gives the very table of
// the same season given by flags, and what would contradict it is bad usage.

#include "BatchRun.h"
#include "ReadBack.h"

#include "SeasonOracle.h"
#include "engine/calibration/CalibrationFile.h"
#include "engine/season/SeasonProject.h"

#include <gtest/gtest.h>

namespace {

using namespace batch_testing;
using testing_support::SeasonScene;
using testing_support::TempDir;
namespace fs = std::filesystem;

void writeText(const fs::path& path, const std::string& text)
{
    testing_support::writeFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string textOf(const fs::path& path)
{
    const auto bytes = testing_support::readFile(path);
    return {bytes.begin(), bytes.end()};
}

// Three frames in dir/frames, named by their times, and the scene's regions.
struct ProjectSeason {
    SeasonScene scene;
    TempDir dir;
    std::vector<std::string> frames;

    ProjectSeason()
    {
        fs::create_directories(dir.path("frames"));
        const char* names[] = {"cam_20260602_070000.bmp", "cam_20260601_083000.bmp", "cam_20260603_120000.bmp"};
        const double light[] = {0.5, 1.0, 0.8};
        for (int k = 0; k < 3; ++k) {
            const fs::path frame = dir.path("frames") / names[k];
            testing_support::writeFile(frame, testing_support::encodeBmp(scene.picture(light[k], static_cast<std::uint32_t>(k))));
            frames.push_back(frame.string());
        }
        std::sort(frames.begin(), frames.end());
        writeText(dir.path("regions.json"), scene.regionsJson());
    }

    std::string project(const std::string& extra) const
    {
        return "{\"format\": \"zrvimage-season\", \"version\": 1, \"frames\": \"frames\", \"unknown\": [1, 2],\n"
               " \"regions\": " + scene.regionsJson() + extra + "}";
    }
};

TEST(SeriesProject, GivesTheTableOfTheSameSeasonGivenByFlags)
{
    const ProjectSeason season;
    engine::CalibrationRecord fixed;
    fixed.model = engine::NdviModel::plain(230, 210);
    fixed.model.nir.rWhite = 0.9f;
    writeText(season.dir.path("fixed.json"), engine::calibrationText(fixed));
    const struct {
        const char* name;
        std::string project;
        std::vector<std::string> flags;
    } cases[] = {
        {"own panels", ", \"time\": \"name:cam_%Y%m%d_%H%M%S\", \"white_from\": \"mean\", \"panel_reflectance\": [0.92, 0.9],"
                       " \"dark_reflectance\": [0.03, 0.02]",
         {"--time", "name:cam_%Y%m%d_%H%M%S", "--white-from", "mean", "--panel-reflectance", "0.92,0.9",
          "--dark-reflectance", "0.03,0.02"}},
        {"fixed calibration", ", \"calibration\": " + engine::calibrationText(fixed),
         {"--calibration", season.dir.path("fixed.json").string()}},
        {"another index", ", \"index\": \"savi:0.3\", \"white_from\": \"mean\"",
         {"--index", "savi:0.3", "--white-from", "mean"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeText(season.dir.path("season.json"), season.project(c.project));
        std::vector<std::string> byFlags = {"series"};
        byFlags.insert(byFlags.end(), season.frames.begin(), season.frames.end());
        byFlags.insert(byFlags.end(), {"--regions", season.dir.path("regions.json").string(), "--csv",
                                       season.dir.path("flags.csv").string(), "--force"});
        byFlags.insert(byFlags.end(), c.flags.begin(), c.flags.end());
        const BatchResult flags = runBatch(byFlags);
        ASSERT_EQ(flags.status, 0) << flags.err;
        const BatchResult project = runBatch({"series", "--project", season.dir.path("season.json").string(), "--csv",
                                              season.dir.path("project.csv").string(), "--force"});
        ASSERT_EQ(project.status, 0) << project.err;
        EXPECT_EQ(textOf(season.dir.path("project.csv")), textOf(season.dir.path("flags.csv")));
    }
}

TEST(SeriesProject, WhatContradictsOrCannotBeReadIsBadUsage)
{
    const ProjectSeason season;
    const std::string good = season.dir.path("season.json").string();
    writeText(good, season.project(""));
    writeText(season.dir.path("newer.json"), "{\"format\": \"zrvimage-season\", \"version\": 2, \"frames\": \"frames\", \"regions\": {\"regions\": []}}");
    std::string empty = season.project("");
    empty.replace(empty.find("\"frames\": \"frames\""), 18, "\"frames\": \".\"");  // no frame beside the project
    writeText(season.dir.path("empty.json"), empty);
    writeText(season.dir.path("badindex.json"), season.project(", \"index\": \"savi:1.5\""));
    const std::string csv = season.dir.path("out.csv").string();
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"series", "--project", good, "--csv", csv, "--regions", "r.json"}, "--regions と同時に使えません"},
        {{"series", "--project", good, "--csv", csv, "--panel-reflectance", "0.9,0.9"}, "--panel-reflectance と同時に"},
        {{"series", season.frames[0], "--project", good, "--csv", csv}, "フレームを取りません"},
        {{"series", "--project", season.dir.path("newer.json").string(), "--csv", csv}, "新しい版"},
        {{"series", "--project", season.dir.path("none.json").string(), "--csv", csv}, "開けません"},
        {{"series", "--project", season.dir.path("empty.json").string(), "--csv", csv}, "BMP ファイルがありません"},
        {{"series", "--project", good, "--csv", csv, "--index", "sr"}, "--index と同時に"},
        {{"series", "--project", season.dir.path("badindex.json").string(), "--csv", csv},
         "index: savi の L には 0 から 1 までの数を指定してください: savi:1.5"},
    };
    for (const auto& c : cases) {
        const BatchResult r = runBatch(c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(csv));
}

TEST(SeriesProject, ProjectFileReadsBackAsWritten)
{
    engine::SeasonProject p;
    p.frames = "frames";
    p.time = "name:cam_%Y%m%d_%H%M%S";
    p.whiteFrom = engine::WhiteFrom::Percentile99;
    p.panelReflectance = {0.92, 0.9};
    p.flatfield = "flat.tif";
    p.index = engine::VegetationIndex{engine::IndexKind::Wdrvi, 0.15};
    p.regions = engine::parseRegions(SeasonScene().regionsJson(), "");
    const std::string text = engine::seasonProjectJson(p);
    const engine::SeasonProject again = engine::parseSeasonProject(text, "p.json");
    EXPECT_EQ(engine::seasonProjectJson(again), text);
    EXPECT_EQ(again.panelReflectance, p.panelReflectance);
    EXPECT_EQ(again.whiteFrom, p.whiteFrom);
    EXPECT_EQ(again.index, p.index);
    EXPECT_EQ(engine::regionsJson(again.regions), engine::regionsJson(p.regions));
}

}  // namespace
