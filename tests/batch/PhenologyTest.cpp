// phenology: a season with known plots written as series writes its table, split over
// two folders' tables, gives the true dates within their bounds, a none row for the
// bare plot and a chart a region; the split and the whole table give the same bytes;
// usage errors, unreadable tables and outputs that cannot be placed.

#include "BatchRun.h"
#include "ReadBack.h"

#include "PhenologySeason.h"
#include "engine/season/Season.h"
#include "engine/season/Phenology.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using namespace batch_testing;
using testing_support::MadeSeason;
using testing_support::TempDir;

const char* const kRegions[] = {"A1", "A2", "B1", "B2", "bare"};
const double kFirstDay = *engine::phenologyDay("2026-04-01T10:00:00");

// The season's rows as series writes them (its header, every column), the frames of
// days [from, to) only; a region's value is in column, the others left empty.
std::string seasonTable(const MadeSeason& s, double from, double to, const std::string& folder,
                        const std::string& column = "ndvi_mean")
{
    std::string header = engine::seasonCsvHeader(false);
    if (column != "ndvi_mean") header.replace(header.find("ndvi_mean"), 9, column);
    std::string table = header;
    for (std::size_t f = 0; f < s.days.size(); ++f) {
        if (s.days[f] < from || s.days[f] >= to) continue;
        for (std::size_t p = 0; p < s.values.size(); ++p) {
            std::ostringstream row;
            row.precision(17);
            row << folder << "/cam_" << f << ".bmp," << engine::phenologyTime(kFirstDay + s.days[f]) << ',' << kRegions[p]
                << ",400," << s.values[p][f] << ",,,,,,,0,120,40,0,230,225," << (s.flagged[f] ? "dim" : "") << ",,\n";
            table += row.str();
        }
    }
    return table;
}

void write(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string read(const std::filesystem::path& path)
{
    const auto bytes = testing_support::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::vector<std::string>> rowsOf(const std::string& csv)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(csv);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields(1);
        for (const char c : line) {
            if (c == ',') {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        rows.push_back(fields);
    }
    return rows;
}

TEST(PhenologyCommand, TwoFoldersMakeOneSeason)
{
    TempDir dir;
    const MadeSeason s = testing_support::makeSeason(5);
    write(dir.path("early.csv"), seasonTable(s, 0, 120, "early"));
    write(dir.path("late.csv"), seasonTable(s, 120, 1000, "late"));
    const BatchResult r = runBatch({"phenology", u8(dir.path("early.csv")), u8(dir.path("late.csv")), "-o",
                                    u8(dir.path("dates.csv")), "--png", u8(dir.path("charts"))});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("bare: 季節の変化が見られません"), std::string::npos) << r.err;

    const std::string dates = read(dir.path("dates.csv"));
    const auto rows = rowsOf(dates);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (std::vector<std::string>{"region", "metric", "date", "low", "high", "value", "method"}));
    ASSERT_EQ(rows.size(), 1 + 4 * 7 + 1u);
    for (std::size_t p = 0; p < 4; ++p) {
        const auto truth = testing_support::trueDates(s.curves[p], s.days.front(), s.days.back());
        for (std::size_t m = 0; m < 7; ++m) {
            const auto& row = rows[1 + p * 7 + m];
            SCOPED_TRACE(row[0] + " " + row[1]);
            EXPECT_EQ(row[0], kRegions[p]);
            EXPECT_EQ(row[1], engine::phenologyMetricName(static_cast<engine::PhenologyMetric>(m)));
            EXPECT_EQ(row[6], "double_logistic");
            const auto day = engine::phenologyDay(row[2]);
            ASSERT_TRUE(day && engine::phenologyDay(row[3]) && engine::phenologyDay(row[4]));
            EXPECT_LE(*engine::phenologyDay(row[3]), *day);
            EXPECT_GE(*engine::phenologyDay(row[4]), *day);
            if (m != 3) {
                EXPECT_NEAR(*day - kFirstDay, truth[m], m == 1 || m == 5 ? 3.0 : 5.0);
            }
        }
    }
    EXPECT_EQ(rows.back()[0], "bare");
    EXPECT_EQ(rows.back()[1], "none");
    EXPECT_TRUE(rows.back()[2].empty());

    // One chart a region, in the chart's size; the curve is drawn in it.
    EXPECT_EQ(filesIn(dir.path("charts")),
              (std::vector<std::string>{"A1.png", "A2.png", "B1.png", "B2.png", "bare.png"}));
    const DecodedPng chart = decodePng(testing_support::readFile(dir.path("charts/A1.png")));
    ASSERT_TRUE(chart.decoded);
    EXPECT_EQ(chart.width, 960);
    EXPECT_EQ(chart.height, 540);

    // The same frames in one table give the same dates, to the byte.
    write(dir.path("all.csv"), seasonTable(s, 0, 1000, "early"));
    const BatchResult whole = runBatch({"phenology", u8(dir.path("all.csv")), "-o", u8(dir.path("whole.csv"))});
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(read(dir.path("whole.csv")), dates);
}

TEST(PhenologyCommand, AnotherColumn)
{
    TempDir dir;
    const MadeSeason s = testing_support::makeSeason(6);
    write(dir.path("savi.csv"), seasonTable(s, 0, 1000, "f", "savi_mean"));
    const BatchResult missing = runBatch({"phenology", u8(dir.path("savi.csv")), "-o", u8(dir.path("d.csv"))});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(": 季節表に列 ndvi_mean がありません（_mean の列: savi_mean、nir_mean、red_mean）"), std::string::npos)
        << missing.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path("d.csv")));
    const BatchResult r = runBatch({"phenology", u8(dir.path("savi.csv")), "--index-column", "savi_mean", "-o",
                                    u8(dir.path("d.csv"))});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(read(dir.path("d.csv")).find("A1,mid_greenup,2026-"), std::string::npos);
}

TEST(PhenologyCommand, UsageAndFailures)
{
    TempDir dir;
    const MadeSeason s = testing_support::makeSeason(7);
    const std::string table = u8(dir.path("t.csv"));
    write(dir.path("t.csv"), seasonTable(s, 0, 1000, "f"));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"phenology", table}, 2, "-o で書き出す日付の表 (CSV) を指定してください"},
        {{"phenology", "-o", u8(dir.path("d.csv"))}, 2, "入力ファイルを指定してください"},
        {{"phenology", table, "-o", table}, 2, "入力ファイルと同じファイルには保存できません"},
        {{"series", table, "--png", "x"}, 2, "--png は series では使えません"},
        {{"phenology", table, "-o", u8(dir.path("d.csv")), "--index-column="}, 2, "--index-column には季節表の列名"},
        {{"phenology", u8(dir.path("none.csv")), "-o", u8(dir.path("d.csv"))}, 1, u8(dir.path("none.csv"))},
        {{"phenology", table, "-o", u8(dir.path("no/such/folder/d.csv"))}, 1, u8(dir.path("no/such/folder/d.csv"))},
    };
    for (const Case& c : cases) {
        const BatchResult r = runBatch(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.path("d.csv")));
    }

    // A chart that cannot be placed (a folder holds its name) leaves the table as it was:
    // the files are placed together or not at all.
    write(dir.path("d.csv"), "old");
    std::filesystem::create_directories(dir.path("charts/B1.png"));
    const BatchResult r = runBatch({"phenology", table, "-o", u8(dir.path("d.csv")), "--png", u8(dir.path("charts")), "--force"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("B1.png"), std::string::npos) << r.err;
    EXPECT_EQ(read(dir.path("d.csv")), "old");
    EXPECT_EQ(filesIn(dir.path("charts")), (std::vector<std::string>{"B1.png"}));

    // Without --force nothing already there is written over.
    std::filesystem::remove(dir.path("charts/B1.png"));
    const BatchResult kept = runBatch({"phenology", table, "-o", u8(dir.path("d.csv"))});
    EXPECT_EQ(kept.status, 2);
    EXPECT_NE(kept.err.find("--force"), std::string::npos);
    EXPECT_EQ(read(dir.path("d.csv")), "old");

    // Interrupted: nothing written, the interrupt's status.
    std::atomic<bool> interrupted{true};
    std::ostringstream out, err;
    EXPECT_EQ(batch::run({"phenology", table, "-o", u8(dir.path("d.csv")), "--force"}, out, err, false, &interrupted),
              batch::kInterrupted);
    EXPECT_EQ(read(dir.path("d.csv")), "old");
}

}  // namespace
