// zrvimage-batch series: the table against the oracle worked out pixel by pixel, with
// bad frames among good ones, frames ordered by their names' or files' times, a fixed
// calibration; and what is bad usage, refused before any frame is read.

#include "BatchRun.h"
#include "ReadBack.h"

#include "SeasonOracle.h"
#include "engine/calibration/CalibrationFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

namespace {

using namespace batch_testing;
using testing_support::OracleCalibration;
using testing_support::SeasonScene;
using testing_support::TempDir;
namespace fs = std::filesystem;

std::vector<std::vector<std::string>> tableRecords(const fs::path& csv, std::string& header)
{
    const std::vector<std::uint8_t> bytes = testing_support::readFile(csv);
    auto records = testing_support::parseCsv(std::string(bytes.begin(), bytes.end()));
    if (records.empty()) return records;
    header.clear();
    for (const auto& f : records.front()) header += (header.empty() ? "" : ",") + f;
    records.erase(records.begin());
    return records;
}

constexpr const char* kHeader = "file,time,region,pixels,ndvi_mean,ndvi_std,ndvi_min,ndvi_p05,ndvi_median,ndvi_p95,"
                                "ndvi_max,nodata_pixels,nir_mean,red_mean,saturated_pixels,nir_white,red_white,"
                                "panel_warning,nir_dark,red_dark";

TEST(Series, EachFrameCalibratedByItsPanelInTimeOrderWithBadFramesLeftOutAndNamed)
{
    const SeasonScene scene;
    const TempDir dir;
    const fs::path regions = dir.path("regions.json");
    testing_support::writeFile(regions, [&] {
        const std::string text = scene.regionsJson();
        return std::vector<std::uint8_t>(text.begin(), text.end());
    }());
    struct Good {
        std::string name, time;
        double light;
    };
    // Given out of time order; the light changes from frame to frame.
    const std::vector<Good> good = {{"cam_20260603_120000.bmp", "2026-06-03T12:00:00", 0.7},
                                    {"cam_20260601_083000_b.bmp", "2026-06-01T08:30:00", 1.0},
                                    {"cam_20260602_070000.bmp", "2026-06-02T07:00:00", 0.38},
                                    {"cam_20260601_083000_a.bmp", "2026-06-01T08:30:00", 1.08}};
    std::vector<std::string> args = {"series"};
    std::vector<testing_support::Picture> pictures;
    for (std::size_t k = 0; k < good.size(); ++k) {
        pictures.push_back(scene.picture(good[k].light, static_cast<std::uint32_t>(k)));
        testing_support::writeFile(dir.path(good[k].name), testing_support::encodeBmp(pictures.back()));
        args.push_back(dir.path(good[k].name).string());
        if (k == 1) {
            // Among the good: a file that is no bitmap, one too small for the regions,
            // and one whose name the pattern does not read.
            const std::string bad[] = {"cam_20260601_090000.bmp", "cam_20260601_100000.bmp", "IMG_0001.bmp"};
            testing_support::writeFile(dir.path(bad[0]), {'h', 'e', 'l', 'l', 'o'});
            testing_support::Picture small = scene.picture(1.0, 9);
            small.width = 40;
            small.pixels.resize(40 * small.height);
            testing_support::writeFile(dir.path(bad[1]), testing_support::encodeBmp(small));
            testing_support::writeFile(dir.path(bad[2]), testing_support::encodeBmp(pictures.back()));
            for (const auto& b : bad) args.push_back(dir.path(b).string());
        }
    }
    const fs::path csv = dir.path("season.csv");
    args.insert(args.end(), {"--regions", regions.string(), "--csv", csv.string(), "--time", "name:cam_%Y%m%d_%H%M%S",
                             "--white-from", "mean", "--panel-reflectance", "0.92,0.9", "--dark-reflectance", "0.03,0.02",
                             "-j", "3", "--json"});
    const BatchResult result = runBatch(args);
    EXPECT_EQ(result.status, 1) << result.err;
    for (const char* bad : {"cam_20260601_090000.bmp: ", "cam_20260601_100000.bmp: ", "IMG_0001.bmp: "}) {
        EXPECT_NE(result.err.find(dir.path(bad).string()), std::string::npos) << bad << "\n" << result.err;
    }
    EXPECT_NE(result.err.find("領域 \"A3, \"east\"\" が画像"), std::string::npos) << result.err;  // the region outside
    EXPECT_NE(result.err.find("失敗したファイル 3/7"), std::string::npos) << result.err;
    const auto literal = [](const fs::path& path) { return Json(u8(path)).dump(); };  // escaped as JSON
    EXPECT_EQ(result.out, "{\"csv\":" + literal(csv) + ",\"written\":true,\"frames\":7,\"failed\":["
                              + literal(dir.path("cam_20260601_090000.bmp")) + ","
                              + literal(dir.path("cam_20260601_100000.bmp")) + ","
                              + literal(dir.path("IMG_0001.bmp")) + "],\"regions\":4,\"rows\":16}\n");

    OracleCalibration calibration{std::nullopt, OracleCalibration::From::Mean, 0.92f, 0.9f, 0.03f, 0.02f};
    std::vector<testing_support::OracleRow> expected;
    for (const std::size_t k : {3u, 1u, 2u, 0u}) {
        const auto rows = testing_support::oracleRows(pictures[k], dir.path(good[k].name).string(), good[k].time,
                                                      scene.plots, &scene.white, &scene.dark, calibration);
        expected.insert(expected.end(), rows.begin(), rows.end());
    }
    std::string header;
    testing_support::expectRows(tableRecords(csv, header), expected);
    EXPECT_EQ(header, kHeader);
}

TEST(Series, AFixedCalibrationServesEveryFrameOrderedByModificationTimeThenPath)
{
    const SeasonScene scene;
    const TempDir dir;
    const fs::path regions = dir.path("regions.json");
    const std::string text = scene.regionsJson(false, false);  // no panel: the calibration is fixed
    testing_support::writeFile(regions, std::vector<std::uint8_t>(text.begin(), text.end()));
    engine::CalibrationRecord record;
    record.model = {{243, 0.95f, 8, 0.02f}, {231, 0.93f, 9, 0.03f}};
    engine::writeCalibrationFile(dir.path("cal.json").string(), record);

    const std::time_t early = 1780300000, late = 1780400000;
    const struct {
        const char* name;
        std::time_t mtime;
    } frames[] = {{"b.bmp", late}, {"c.bmp", early}, {"a.bmp", late}};
    std::vector<std::string> paths;
    std::vector<testing_support::Picture> pictures;
    for (const auto& f : frames) {
        pictures.push_back(scene.picture(0.9, static_cast<std::uint32_t>(pictures.size())));
        paths.push_back(dir.path(f.name).string());
        testing_support::writeFile(paths.back(), testing_support::encodeBmp(pictures.back()));
        fs::last_write_time(paths.back(), fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(f.mtime)));
    }
    const auto local = [](std::time_t t) {
        std::tm tm{};
#ifdef _WIN32
        ::localtime_s(&tm, &t);
#else
        ::localtime_r(&t, &tm);
#endif
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
        return std::string(text);
    };
    const struct {
        std::vector<std::string> calibration;
        engine::NdviModel model;
    } cases[] = {{{"--calibration", dir.path("cal.json").string()}, record.model},
                 {{"--nir-white", "200", "--red-white", "210", "--panel-reflectance", "0.9,0.95"},
                  {{200, 0.9f, 0, 0}, {210, 0.95f, 0, 0}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.calibration[0]);
        const fs::path csv = dir.path("season.csv");
        std::vector<std::string> args = {"series", paths[0], paths[1], paths[2], "--regions", regions.string(),
                                         "--csv", csv.string(), "--force"};
        args.insert(args.end(), c.calibration.begin(), c.calibration.end());
        const BatchResult result = runBatch(args);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "");
        OracleCalibration fixed;
        fixed.fixed = testing_support::targetsOf(c.model);
        std::vector<testing_support::OracleRow> expected;
        for (const std::size_t k : {1u, 2u, 0u}) {
            const auto rows = testing_support::oracleRows(pictures[k], paths[k], local(frames[k].mtime), scene.plots,
                                                          nullptr, nullptr, fixed);
            expected.insert(expected.end(), rows.begin(), rows.end());
        }
        std::string header;
        testing_support::expectRows(tableRecords(csv, header), expected);
    }
}

// The scene's frame with the dark region over bare soil: the target missed.
testing_support::Picture soilOverDark(const SeasonScene& scene, double light, std::uint32_t seed)
{
    testing_support::Picture p = scene.picture(light, seed);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            if (!scene.dark.holds(x, y)) continue;
            auto& px = p.pixels[static_cast<std::size_t>(y * p.width + x)];
            px.r = static_cast<std::uint8_t>(40 + (x * 37 + y * 11) % 70);
            px.g = static_cast<std::uint8_t>(30 + (x * 13 + y * 29) % 60);
        }
    }
    return p;
}

TEST(Series, StrictLeavesOutTheFramesWhoseTargetsFailACheckAndNamesEach)
{
    const SeasonScene scene;
    const TempDir dir;
    const fs::path regions = dir.path("regions.json");
    const std::string text = scene.regionsJson();
    testing_support::writeFile(regions, std::vector<std::uint8_t>(text.begin(), text.end()));
    const struct {
        const char* name;
        testing_support::Picture picture;
        const char* keys;
    } frames[] = {
        {"cam_20260601_080000.bmp", scene.picture(1.0, 0), ""},
        {"cam_20260602_080000.bmp", soilOverDark(scene, 1.0, 1), "dark_uneven"},
        {"cam_20260603_080000.bmp", scene.picture(0.38, 2), "dim"},
    };
    std::vector<std::string> args = {"series"};
    for (const auto& f : frames) {
        testing_support::writeFile(dir.path(f.name), testing_support::encodeBmp(f.picture));
        args.push_back(dir.path(f.name).string());
    }
    args.insert(args.end(), {"--regions", regions.string(), "--time", "name:cam_%Y%m%d_%H%M%S", "--force", "--csv"});
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "--strict" : "");
        const fs::path csv = dir.path(strict ? "strict.csv" : "all.csv");
        std::vector<std::string> run = args;
        run.push_back(csv.string());
        if (strict) run.push_back("--strict");
        const BatchResult result = runBatch(run);
        EXPECT_EQ(result.status, strict ? 1 : 0) << result.err;
        std::string header;
        const auto records = tableRecords(csv, header);
        std::vector<std::string> keys;  // each frame's, from its first row
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (i == 0 || records[i][0] != records[i - 1][0]) keys.push_back(records[i][17]);
        }
        if (strict) {
            EXPECT_EQ(keys, std::vector<std::string>{""});
            for (std::size_t k = 1; k < std::size(frames); ++k) {
                const std::string path = dir.path(frames[k].name).string();
                EXPECT_NE(result.err.find(path + ": --strict のため、白色板か暗色板の確認に外れたこのフレーム（" + frames[k].keys
                                          + "）を表から除きました\n"),
                          std::string::npos)
                    << result.err;
            }
            EXPECT_NE(result.err.find("失敗したファイル 2/3"), std::string::npos) << result.err;
            EXPECT_NE(result.err.find(dir.path(frames[1].name).string() + ": 暗色板の範囲の明るさが一様ではありません"),
                      std::string::npos)
                << result.err;
        } else {
            EXPECT_EQ(keys, (std::vector<std::string>{"", "dark_uneven", "dim"}));
            EXPECT_EQ(result.err, "");
        }
    }
}

TEST(Series, WhenNoFrameSucceedsNoTableIsWrittenAndTheOldOneStays)
{
    const SeasonScene scene;
    const TempDir dir;
    const fs::path regions = dir.path("regions.json");
    const std::string text = scene.regionsJson();
    testing_support::writeFile(regions, std::vector<std::uint8_t>(text.begin(), text.end()));
    const std::string notBitmap = dir.path("cam_20260601_080000.bmp").string();
    testing_support::writeFile(notBitmap, {'h', 'e', 'l', 'l', 'o'});
    const std::string soil = dir.path("cam_20260602_080000.bmp").string();
    testing_support::writeFile(soil, testing_support::encodeBmp(soilOverDark(scene, 1.0, 1)));
    const std::string old = "file,time,region\nkept.bmp,2026-05-01T10:00:00,A1\n";
    const struct {
        const char* name;
        std::vector<std::string> frames, options;
        bool existing;
    } cases[] = {
        {"unreadable, --force", {notBitmap}, {"--force"}, true},
        {"refused by --strict, --force", {soil}, {"--strict", "--force"}, true},
        {"both, no table yet", {notBitmap, soil}, {"--strict", "--json"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path csv = dir.path("season.csv");
        fs::remove(csv);
        if (c.existing) testing_support::writeFile(csv, std::vector<std::uint8_t>(old.begin(), old.end()));
        std::vector<std::string> args = {"series"};
        args.insert(args.end(), c.frames.begin(), c.frames.end());
        args.insert(args.end(), {"--regions", regions.string(), "--csv", csv.string(), "--time", "name:cam_%Y%m%d_%H%M%S"});
        args.insert(args.end(), c.options.begin(), c.options.end());
        const BatchResult result = runBatch(args);
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find("zrvimage-batch: 成功したフレームが一つもないため、CSV ファイルを書きませんでした"
                                  "（既存のファイルはそのままです）: " + csv.string() + "\n"),
                  std::string::npos)
            << result.err;
        if (c.existing) {
            EXPECT_EQ(testing_support::readFile(csv), std::vector<std::uint8_t>(old.begin(), old.end()));
        } else {
            EXPECT_FALSE(fs::exists(csv));
            EXPECT_NE(result.out.find("\"written\":false"), std::string::npos) << result.out;
        }
        // Nothing left beside it either.
        std::size_t files = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.dir())) ++files;
        EXPECT_EQ(files, c.existing ? 4u : 3u);
    }
}

TEST(Series, ModificationTimesWithinSecondsAreWarnedOfWithAPatternForTheNames)
{
    const SeasonScene scene;
    const TempDir dir;
    const fs::path regions = dir.path("regions.json");
    const std::string text = scene.regionsJson();
    testing_support::writeFile(regions, std::vector<std::uint8_t>(text.begin(), text.end()));
    const std::vector<std::string> names = {"cam_20260601_083000.bmp", "cam_20260602_083000.bmp", "cam_20260603_083000.bmp"};
    const std::time_t copied = 1780300000;
    const struct {
        const char* name;
        std::vector<std::time_t> mtimes;
        std::vector<std::string> options;
        bool warned;
    } cases[] = {
        {"copied from a card", {copied, copied + 4, copied + 2}, {}, true},
        {"a day apart", {copied, copied + 86400, copied + 2 * 86400}, {}, false},
        {"timed by their names", {copied, copied, copied}, {"--time", "name:cam_%Y%m%d_%H%M%S"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"series"};
        for (std::size_t k = 0; k < names.size(); ++k) {
            const std::string path = dir.path(names[k]).string();
            testing_support::writeFile(path, testing_support::encodeBmp(scene.picture(1.0, static_cast<std::uint32_t>(k))));
            fs::last_write_time(path, fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(c.mtimes[k])));
            args.push_back(path);
        }
        args.insert(args.end(), {"--regions", regions.string(), "--csv", dir.path("season.csv").string(), "--force"});
        args.insert(args.end(), c.options.begin(), c.options.end());
        const BatchResult result = runBatch(args);
        EXPECT_EQ(result.status, 0) << result.err;
        if (c.warned) {
            EXPECT_EQ(result.err, "zrvimage-batch: 全 3 フレームの更新日時が 10 秒以内に収まっています。カードからのコピーなどで"
                                  "更新日時が撮影日時を表していないおそれがあり、時刻と並び順は正しくないかもしれません。"
                                  "ファイル名の日付から時刻を読むには --time name:cam_%Y%m%d_%H%M%S を指定してください\n");
        } else {
            EXPECT_EQ(result.err, "");
        }
    }
}

TEST(Series, BadUsageIsRefusedBeforeAnyFrameIsReadAndNoTableIsWritten)
{
    const SeasonScene scene;
    const TempDir dir;
    const auto put = [&](const char* name, const std::string& text) {
        testing_support::writeFile(dir.path(name), std::vector<std::uint8_t>(text.begin(), text.end()));
        return dir.path(name).string();
    };
    const std::string regions = put("regions.json", scene.regionsJson(true, false));
    const std::string noPanel = put("plots.json", scene.regionsJson(false, false));
    const std::string bad = put("bad.json", R"({"regions": [{"name": "A1", "rect": [5, 5, 1, 1]}]})");
    const std::string frame = dir.path("f.bmp").string();
    testing_support::writeFile(frame, testing_support::encodeBmp(scene.picture(1, 0)));
    const std::string existing = put("old.csv", "old\n");
    const std::string csv = dir.path("new.csv").string();
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"series", frame, "--csv", csv}, "--regions"},
        {{"series", frame, "--regions", regions}, "--csv"},
        {{"series", frame, "--regions", regions, "--csv", csv, "--time", "name:IMG_%H"}, "--time"},
        {{"series", frame, "--regions", regions, "--csv", csv, "--nir-white", "200"}, "--red-white"},
        {{"series", frame, "--regions", regions, "--csv", csv, "--nir-white", "200", "--red-white", "200", "--white-from",
          "p99"},
         "--white-from"},
        {{"series", frame, "--regions", regions, "--csv", csv, "--white-from", "median"}, "--white-from"},
        {{"series", frame, "--regions", regions, "--csv", csv, "--dark-reflectance", "0.03,0.02"}, "--dark-reflectance"},
        {{"series", frame, "--regions", bad, "--csv", csv}, "\"A1\""},
        {{"series", frame, "--regions", noPanel, "--csv", csv}, "white"},
        {{"series", frame, "--regions", regions, "--csv", csv, "--dark", "1,1"}, "--dark"},
        {{"series", frame, "--regions", regions, "--csv", existing}, "--force"},
        {{"series", frame, "--regions", regions, "--csv", frame, "--force"}, "入力ファイルと同じ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const BatchResult result = runBatch(c.args);
        EXPECT_EQ(result.status, 2);
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(csv));
    }
    EXPECT_EQ(testing_support::readFile(existing), (std::vector<std::uint8_t>{'o', 'l', 'd', '\n'}));
    EXPECT_EQ(testing_support::readFile(frame), testing_support::encodeBmp(scene.picture(1, 0)));

    // Stopped: no table, whatever was done.
    std::ostringstream out, err;
    const std::atomic<bool> stop{true};
    EXPECT_EQ(batch::run({"series", frame, "--regions", regions, "--csv", csv}, out, err, false, &stop), batch::kInterrupted);
    EXPECT_FALSE(fs::exists(csv));
}

}  // namespace
