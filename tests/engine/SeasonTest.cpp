// A season's table: each frame's rows against the oracle worked out pixel by pixel from
// the definitions, under changing light, calibrated by the frame's own panel in every
// way the panel may be read or by a fixed model, from a file or from memory; frames that
// cannot be used; frame times from names and modification times; the table's order.

#include "engine/calibration/FlatField.h"
#include "engine/formats/PictureReader.h"
#include "engine/season/Season.h"

#include "SeasonOracle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

namespace {

using engine::RegionSet;
using engine::SeasonSettings;
using testing_support::OracleCalibration;
using testing_support::SeasonScene;
namespace fs = std::filesystem;

struct CalibrationCase {
    const char* name;
    SeasonSettings settings;
    OracleCalibration oracle;
    bool withDark;
};

std::vector<CalibrationCase> calibrationCases()
{
    std::vector<CalibrationCase> cases;
    cases.push_back({"panel max", {}, {}, false});
    CalibrationCase mean{"panel mean, dark target, reflectances", {}, {}, true};
    mean.settings.whiteFrom = engine::WhiteFrom::Mean;
    mean.settings.reflectances.nir = {255, 0.92f, 0, 0.03f};
    mean.settings.reflectances.red = {255, 0.9f, 0, 0.02f};
    mean.oracle = {std::nullopt, OracleCalibration::From::Mean, 0.92f, 0.9f, 0.03f, 0.02f};
    cases.push_back(mean);
    CalibrationCase p99{"panel p99, dark target", {}, {}, true};
    p99.settings.whiteFrom = engine::WhiteFrom::Percentile99;
    p99.oracle.from = OracleCalibration::From::P99;
    cases.push_back(p99);
    CalibrationCase fixed{"fixed", {}, {}, true};
    fixed.settings.fixed = engine::NdviModel{{243, 0.95f, 8, 0.02f}, {231, 0.93f, 9, 0.03f}};
    fixed.oracle.fixed = testing_support::targetsOf(*fixed.settings.fixed);
    cases.push_back(fixed);
    return cases;
}

std::string rowsOf(const engine::FrameFigures& figures, const std::string& file, const RegionSet& regions)
{
    return engine::seasonCsvRows({file, "2026-06-01T08:30:00", figures}, regions);
}

TEST(SeasonFrame, RowsFollowTheDefinitionsUnderChangingLight)
{
    const SeasonScene scene;
    const testing_support::TempDir dir;
    // Lit as meant, dimmer, too dim for the panel, and bright enough to saturate it.
    const double lights[] = {1.0, 0.7, 0.38, 1.08};
    for (const CalibrationCase& c : calibrationCases()) {
        SCOPED_TRACE(c.name);
        const RegionSet regions = engine::parseRegions(scene.regionsJson(true, c.withDark), "regions.json");
        for (std::size_t k = 0; k < std::size(lights); ++k) {
            SCOPED_TRACE(k);
            const testing_support::Picture picture = scene.picture(lights[k], static_cast<std::uint32_t>(k));
            const std::string file = dir.path("frame, " + std::to_string(k) + ".bmp").string();
            testing_support::BmpLayout layout;
            layout.topDown = k % 2 == 1;
            testing_support::writeFile(file, testing_support::encodeBmp(picture, layout));

            engine::PictureReader reader = engine::PictureReader::open(file);
            reader.require24Bit();
            const engine::FrameFigures figures = engine::seasonFrameFigures(reader, regions, c.settings);
            const std::string rows = rowsOf(figures, file, regions);
            testing_support::expectRows(
                testing_support::parseCsv(rows),
                testing_support::oracleRows(picture, file, "2026-06-01T08:30:00", scene.plots, &scene.white,
                                            c.withDark ? &scene.dark : nullptr, c.oracle));

            // The same frame from memory gives the same rows.
            const auto row = [&](std::int64_t y) {
                return reinterpret_cast<const std::uint8_t*>(&picture.pixels[static_cast<std::size_t>(y) * picture.width]);
            };
            EXPECT_EQ(rowsOf(engine::seasonFrameFigures(picture.width, picture.height, row, file, regions, c.settings), file,
                             regions),
                      rows);
        }
    }
}

TEST(SeasonFrame, TheDarkTargetIsCheckedInEveryFrameWithItsOwnKeysAndItsValuesKeepTheirFractions)
{
    // The scene's frame with its dark region holding what a frame may show there: the
    // target itself, bare soil (the target missed), something bright, the edge of a
    // shadow, a speck of glare, and a target so dim that the sensor's noise of a level
    // or two is a large part of it. The white panel passes throughout.
    using Fill = std::function<std::pair<int, int>(std::uint32_t h, std::size_t k)>;
    const struct {
        const char* name;
        Fill fill;  // NIR and red bytes of the k-th dark pixel, h a hash of its place
        const char* keys;
    } cases[] = {
        {"target", [](std::uint32_t h, std::size_t) { return std::pair{10 + static_cast<int>(h % 5), 12 + static_cast<int>((h >> 8) % 4)}; }, ""},
        {"soil", [](std::uint32_t h, std::size_t) { return std::pair{40 + static_cast<int>(h % 70), 30 + static_cast<int>((h >> 8) % 60)}; },
         "dark_uneven"},
        {"bright", [](std::uint32_t h, std::size_t) { return std::pair{130 + static_cast<int>(h % 3), 110 + static_cast<int>((h >> 8) % 3)}; },
         "dark_bright"},
        {"shadow edge", [](std::uint32_t, std::size_t k) { return k % 2 ? std::pair{10, 12} : std::pair{40, 36}; }, "dark_uneven"},
        {"glare", [](std::uint32_t, std::size_t k) { return k == 3 ? std::pair{255, 12} : std::pair{12, 12}; },
         "dark_saturated;dark_uneven"},
        {"dim target", [](std::uint32_t h, std::size_t) { return std::pair{2 + static_cast<int>(h % 5), 3 + static_cast<int>((h >> 8) % 4)}; }, ""},
    };
    const SeasonScene scene;
    const RegionSet regions = engine::parseRegions(scene.regionsJson(), "regions.json");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::Picture picture = scene.picture(1.0, 5);
        std::size_t k = 0;
        for (int y = 0; y < picture.height; ++y) {
            for (int x = 0; x < picture.width; ++x) {
                if (!scene.dark.holds(x, y)) continue;
                const auto [nir, red] = c.fill(static_cast<std::uint32_t>(x * 7919 + y * 104729) * 2654435761u >> 7, k++);
                auto& px = picture.pixels[static_cast<std::size_t>(y * picture.width + x)];
                px.r = static_cast<std::uint8_t>(nir);
                px.g = static_cast<std::uint8_t>(red);
            }
        }
        const auto row = [&](std::int64_t y) {
            return reinterpret_cast<const std::uint8_t*>(&picture.pixels[static_cast<std::size_t>(y) * picture.width]);
        };
        const engine::FrameFigures figures = engine::seasonFrameFigures(picture.width, picture.height, row, "f.bmp", regions, {});
        const auto records = testing_support::parseCsv(rowsOf(figures, "f.bmp", regions));
        testing_support::expectRows(records, testing_support::oracleRows(picture, "f.bmp", "2026-06-01T08:30:00", scene.plots,
                                                                         &scene.white, &scene.dark, {}));
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0][17], c.keys);
        EXPECT_EQ(figures.warningTexts.size(), figures.panelWarnings.size());

        // Through a flat-field of gain 1 everywhere, which changes no value, the same
        // checks and dark values.
        engine::FlatFieldModel unit;
        unit.width = picture.width;
        unit.height = picture.height;
        SeasonSettings through;
        through.flatField = std::make_shared<const engine::FlatField>(unit);
        const engine::FrameFigures corrected =
            engine::seasonFrameFigures(picture.width, picture.height, row, "f.bmp", regions, through);
        EXPECT_EQ(corrected.panelWarnings, figures.panelWarnings);
        EXPECT_EQ(corrected.warningTexts, figures.warningTexts);
        EXPECT_EQ(corrected.model.nir.dnDark, figures.model.nir.dnDark);
        EXPECT_EQ(corrected.model.red.dnDark, figures.model.red.dnDark);
    }

    // A dark rectangle of known bytes: means of 10.25 and 12.75 are written as such, and
    // the reflectances are read by them, not by 10 and 13.
    SeasonScene known;
    known.dark = {"dark", 40, 30, 43, 30, {}};
    testing_support::Picture picture = known.picture(1.0, 2);
    const int nir[] = {10, 10, 10, 11}, red[] = {12, 13, 13, 13};
    for (int i = 0; i < 4; ++i) {
        picture.pixels[static_cast<std::size_t>(30 * picture.width + 40 + i)].r = static_cast<std::uint8_t>(nir[i]);
        picture.pixels[static_cast<std::size_t>(30 * picture.width + 40 + i)].g = static_cast<std::uint8_t>(red[i]);
    }
    const RegionSet withKnown = engine::parseRegions(known.regionsJson(), "regions.json");
    const auto row = [&](std::int64_t y) {
        return reinterpret_cast<const std::uint8_t*>(&picture.pixels[static_cast<std::size_t>(y) * picture.width]);
    };
    const engine::FrameFigures figures = engine::seasonFrameFigures(picture.width, picture.height, row, "f.bmp", withKnown, {});
    EXPECT_EQ(figures.model.nir.dnDark, 10.25f);
    EXPECT_EQ(figures.model.red.dnDark, 12.75f);
    const auto records = testing_support::parseCsv(rowsOf(figures, "f.bmp", withKnown));
    testing_support::expectRows(records, testing_support::oracleRows(picture, "f.bmp", "2026-06-01T08:30:00", known.plots,
                                                                     &known.white, &known.dark, {}));
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0][18], "10.25");
    EXPECT_EQ(records[0][19], "12.75");
}

TEST(SeasonTime, ModificationTimesAllWithinSecondsAreWarnedOfWithAPatternForTheNames)
{
    const auto framesAt = [](const std::vector<std::pair<std::string, std::string>>& namesAndTimes) {
        std::vector<engine::SeasonFrame> frames;
        for (const auto& [name, time] : namesAndTimes) frames.push_back({"/card/DCIM/" + name, time, {}});
        return frames;
    };
    const engine::TimeSource mtime;
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> frames;
        std::optional<std::string> pattern;  // proposed; nothing: no warning at all
        bool warned;
    } cases[] = {
        {"copied from a card, dated names",
         {{"cam_20260601_083000.bmp", "2026-07-01T10:00:00"}, {"cam_20260602_083010.bmp", "2026-07-01T10:00:10"}},
         "cam_%Y%m%d_%H%M%S", true},
        {"dashed dates without a time",
         {{"plot 2026-06-01.bmp", "2026-07-01T10:00:03"}, {"plot 2026-06-02.bmp", "2026-07-01T10:00:00"},
          {"plot 2026-06-03.bmp", "2026-07-01T10:00:01"}},
         "plot %Y-%m-%d", true},
        {"percent in the prefix", {{"100%_20260601.bmp", "2026-07-01T10:00:00"}, {"100%_20260602.bmp", "2026-07-01T10:00:00"}},
         "100%%_%Y%m%d", true},
        {"names without dates", {{"IMG_0001.bmp", "2026-07-01T23:59:58"}, {"IMG_0002.bmp", "2026-07-02T00:00:04"}}, std::nullopt, true},
        {"names of two forms", {{"cam_20260601.bmp", "2026-07-01T10:00:00"}, {"IMG_0002.bmp", "2026-07-01T10:00:00"}},
         std::nullopt, true},
        {"eleven seconds apart", {{"cam_20260601.bmp", "2026-07-01T10:00:00"}, {"cam_20260602.bmp", "2026-07-01T10:00:11"}},
         std::nullopt, false},
        {"a day apart", {{"a.bmp", "2026-07-01T10:00:00"}, {"b.bmp", "2026-07-02T10:00:00"}}, std::nullopt, false},
        {"one frame", {{"cam_20260601.bmp", "2026-07-01T10:00:00"}}, std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto frames = framesAt(c.frames);
        const auto warning = engine::seasonTimeWarning(frames, mtime);
        ASSERT_EQ(warning.has_value(), c.warned);
        if (!warning) continue;
        EXPECT_NE(warning->find("全 " + std::to_string(frames.size()) + " フレームの更新日時が 10 秒以内"), std::string::npos) << *warning;
        if (c.pattern) {
            EXPECT_NE(warning->find(" --time name:" + *c.pattern + " を指定してください"), std::string::npos) << *warning;
            // The pattern proposed reads every name.
            const auto source = engine::TimeSource::byText("name:" + *c.pattern);
            ASSERT_TRUE(source);
            for (const auto& f : frames) EXPECT_NO_THROW(engine::frameTime(f.file, *source)) << f.file;
        } else {
            EXPECT_NE(warning->find("ファイル名に日付があれば --time name:PATTERN"), std::string::npos) << *warning;
        }
    }
    // Times read from the names are the user's own choice: never warned of.
    const auto byName = engine::TimeSource::byText("name:cam_%Y%m%d");
    ASSERT_TRUE(byName);
    EXPECT_FALSE(engine::seasonTimeWarning(framesAt(cases[0].frames), *byName));
}

TEST(SeasonFrame, RegionsSpanningManyBlocksOfRowsCountEveryPixelOnce)
{
    // A frame is read a block of rows at a time (about a megabyte: 170 rows of this
    // width, whose rows end in padding); these regions cross the blocks' edges, one
    // reaches the last row and column, and the panel straddles an edge too.
    testing_support::Picture picture;
    picture.width = 2047;
    picture.height = 400;
    for (std::uint32_t y = 0; y < 400; ++y) {
        for (std::uint32_t x = 0; x < 2047; ++x) {
            std::uint32_t h = x * 73856093u ^ y * 19349663u;
            h ^= h >> 13;
            h *= 0x5bd1e995u;
            h ^= h >> 15;
            const bool panel = x >= 100 && x <= 130 && y >= 165 && y <= 180;
            picture.pixels.push_back({static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(panel ? 200 + h % 40 : 20 + (h >> 8) % 60),
                                      static_cast<std::uint8_t>(panel ? 210 + (h >> 16) % 40 : 80 + (h >> 16) % 120)});
        }
    }
    const RegionSet regions = engine::parseRegions(
        R"({"regions": [{"name": "tall", "rect": [5, 3, 40, 396]},
                         {"name": "corner", "rect": [2000, 160, 2046, 399]},
                         {"name": "slant", "polygon": [[300, 150], [900, 168.5], [700, 360.25], [310, 345]]},
                         {"name": "panel", "rect": [100, 165, 130, 180], "role": "white"}]})",
        "r.json");
    const std::vector<testing_support::OracleRegion> plots = {
        {"tall", 5, 3, 40, 396, {}},
        {"corner", 2000, 160, 2046, 399, {}},
        {"slant", 0, 0, -1, -1, {{1200, 600}, {3600, 674}, {2800, 1441}, {1240, 1380}}}};
    const testing_support::OracleRegion panel{"panel", 100, 165, 130, 180, {}};
    const testing_support::TempDir dir;
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown);
        const std::string file = dir.path(topDown ? "down.bmp" : "up.bmp").string();
        testing_support::BmpLayout layout;
        layout.topDown = topDown;
        testing_support::writeFile(file, testing_support::encodeBmp(picture, layout));
        engine::PictureReader reader = engine::PictureReader::open(file);
        reader.require24Bit();
        const std::string rows = rowsOf(engine::seasonFrameFigures(reader, regions, {}), file, regions);
        testing_support::expectRows(testing_support::parseCsv(rows),
                                    testing_support::oracleRows(picture, file, "2026-06-01T08:30:00", plots, &panel, nullptr, {}));
        const auto row = [&](std::int64_t y) {
            return reinterpret_cast<const std::uint8_t*>(&picture.pixels[static_cast<std::size_t>(y) * picture.width]);
        };
        EXPECT_EQ(rowsOf(engine::seasonFrameFigures(picture.width, picture.height, row, file, regions, {}), file, regions), rows);
    }
}

TEST(SeasonFrame, OrderStatisticsHoldAmongManyCloseValues)
{
    // Smooth bands give many codes whose NDVI lie within a hair of each other, so that
    // every percentile falls among close values; a soil corner adds a pile of one value.
    testing_support::Picture picture;
    picture.width = picture.height = 96;
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 96; ++x) {
            const bool soil = x < 20 && y < 40;
            picture.pixels.push_back({0, static_cast<std::uint8_t>(soil ? 0 : 60 + (x * 7 + y) % 23),
                                      static_cast<std::uint8_t>(soil ? 90 : 150 + (x + y * 3) % 31)});
        }
    }
    const RegionSet regions = engine::parseRegions(
        R"({"regions": [{"name": "all", "rect": [0, 0, 95, 95]}, {"name": "tilted", "polygon": [[3.5, 1], [90, 20.25], [70, 94], [2, 60]]}]})",
        "r.json");
    SeasonSettings settings;
    settings.fixed = engine::NdviModel::plain(231, 197);
    const auto row = [&](std::int64_t y) {
        return reinterpret_cast<const std::uint8_t*>(&picture.pixels[static_cast<std::size_t>(y) * picture.width]);
    };
    OracleCalibration oracle;
    oracle.fixed = testing_support::targetsOf(*settings.fixed);
    std::vector<testing_support::OracleRegion> plots = {{"all", 0, 0, 95, 95, {}},
                                                        {"tilted", 0, 0, -1, -1, {{14, 4}, {360, 81}, {280, 376}, {8, 240}}}};
    testing_support::expectRows(
        testing_support::parseCsv(rowsOf(engine::seasonFrameFigures(96, 96, row, "f.bmp", regions, settings), "f.bmp", regions)),
        testing_support::oracleRows(picture, "f.bmp", "2026-06-01T08:30:00", plots, nullptr, nullptr, oracle));
}

TEST(SeasonFrame, AFrameTheRegionsDoNotFitOrWithoutAnyCalibrationIsRefusedByName)
{
    const SeasonScene scene;
    const RegionSet regions = engine::parseRegions(scene.regionsJson(), "regions.json");
    const RegionSet noPanel = engine::parseRegions(scene.regionsJson(false, false), "regions.json");
    testing_support::Picture small = scene.picture(1.0, 0);
    small.width = 40;  // A3 reaches column 46
    small.pixels.resize(static_cast<std::size_t>(small.width) * small.height);
    const auto row = [&](std::int64_t y) {
        return reinterpret_cast<const std::uint8_t*>(&small.pixels[static_cast<std::size_t>(y) * small.width]);
    };
    const struct {
        const RegionSet* regions;
        std::int64_t width;
        const char* named;
    } cases[] = {{&regions, 40, "A3"}, {&noPanel, SeasonScene::kWidth, "white"}};
    for (const auto& c : cases) {
        try {
            engine::seasonFrameFigures(c.width, small.height, row, "/season/f1.bmp", *c.regions, {});
            ADD_FAILURE() << "accepted";
        } catch (const engine::RegionsError& e) {
            const std::string what = e.what();
            EXPECT_TRUE(what.starts_with("/season/f1.bmp: ")) << what;
            EXPECT_NE(what.find(c.named), std::string::npos) << what;
        }
    }
    EXPECT_TRUE(engine::seasonProblem(noPanel, {}));
    SeasonSettings fixed;
    fixed.fixed = engine::NdviModel::plain(200, 200);
    EXPECT_FALSE(engine::seasonProblem(noPanel, fixed));
}

TEST(SeasonTime, NamesAreReadByThePatternFromTheirStart)
{
    const auto source = engine::TimeSource::byText("name:cam_%Y%m%d_%H%M%S");
    ASSERT_TRUE(source);
    const struct {
        const char* path;
        const char* time;  // nullptr: refused
    } cases[] = {
        {"/d/cam_20260601_083000.bmp", "2026-06-01T08:30:00"},
        {"cam_20240229_235959_extra.bmp", "2024-02-29T23:59:59"},
        {"/d/cam_20250229_083000.bmp", nullptr},  // no 29 February that year
        {"/d/cam_20261301_083000.bmp", nullptr},
        {"/d/cam_20260600_083000.bmp", nullptr},
        {"/d/cam_20260601_243000.bmp", nullptr},
        {"/d/cam_20260601_086000.bmp", nullptr},
        {"/d/cam_20260601_0830.bmp", nullptr},
        {"/d/cam_2026O601_083000.bmp", nullptr},
        {"/cam_20260601_083000/IMG_1.bmp", nullptr},  // the folder is not the name
        {"/d/x_cam_20260601_083000.bmp", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        if (c.time) {
            EXPECT_EQ(engine::frameTime(c.path, *source), c.time);
            continue;
        }
        try {
            engine::frameTime(c.path, *source);
            ADD_FAILURE() << "accepted";
        } catch (const engine::RegionsError& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with(std::string(c.path) + ": ")) << e.what();
        }
    }
    const auto percent = engine::TimeSource::byText("name:%Y-%m-%d %%%H");
    ASSERT_TRUE(percent);
    EXPECT_EQ(engine::frameTime("2026-06-01 %07.bmp", *percent), "2026-06-01T07:00:00");
    for (const char* bad : {"", "name:", "mtime:x", "name:%Y%m", "name:%Y%m%d%q", "name:%Y%m%d%", "file:%Y%m%d"}) {
        EXPECT_FALSE(engine::TimeSource::byText(bad)) << bad;
    }
    EXPECT_EQ(engine::TimeSource::byText("mtime")->kind, engine::TimeSource::Kind::ModificationTime);
}

TEST(SeasonTime, TheModificationTimeIsLocalTime)
{
    const testing_support::TempDir dir;
    const fs::path file = dir.path("frame.bmp");
    testing_support::writeFile(file, {1});
    const std::time_t when = 1780302645;  // a fixed instant
    fs::last_write_time(file, fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(when)));
    std::tm local{};
#ifdef _WIN32
    ::localtime_s(&local, &when);
#else
    ::localtime_r(&when, &local);
#endif
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%S", &local);
    EXPECT_EQ(engine::frameTime(file.string(), {}), expected);
    EXPECT_THROW(engine::frameTime(dir.path("missing.bmp").string(), {}), engine::RegionsError);
}

TEST(SeasonTable, FramesGoByTimeThenByPathInByteOrder)
{
    std::vector<engine::SeasonFrame> frames;
    for (const auto& [file, time] : std::vector<std::pair<std::string, std::string>>{
             {"b.bmp", "2026-06-02T08:00:00"}, {"\xc3\xa9.bmp", "2026-06-01T08:00:00"}, {"z.bmp", "2026-06-01T08:00:00"},
             {"a.bmp", "2026-06-02T08:00:00"}, {"Z.bmp", "2026-06-01T08:00:00"}}) {
        frames.push_back({file, time, {}});
    }
    engine::sortSeasonFrames(frames);
    std::vector<std::string> order;
    for (const auto& f : frames) order.push_back(f.file);
    EXPECT_EQ(order, (std::vector<std::string>{"Z.bmp", "z.bmp", "\xc3\xa9.bmp", "a.bmp", "b.bmp"}));
    EXPECT_EQ(engine::seasonCsvHeader(),
              "file,time,region,pixels,ndvi_mean,ndvi_std,ndvi_min,ndvi_p05,ndvi_median,ndvi_p95,ndvi_max,nodata_pixels,"
              "nir_mean,red_mean,saturated_pixels,nir_white,red_white,panel_warning,nir_dark,red_dark\n");
}

}  // namespace
