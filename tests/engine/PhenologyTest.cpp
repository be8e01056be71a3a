// Phenology: dates read off robust fits to seasons with known plots (irregular frames, a
// fortnight's gap, flagged frames, unflagged shadows, a bare plot) against the true
// curves' dates; their bootstrap intervals; the spline where the double logistic cannot
// follow; seasons that show only part of a cycle; the season tables read and the dates
// table written.

#include "engine/season/Phenology.h"

#include "PhenologySeason.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using engine::PhenologyFit;
using engine::PhenologyMethod;
using engine::PhenologyMetric;
using engine::PhenologyPoint;
using testing_support::makeSeason;
using testing_support::MadeSeason;

std::vector<PhenologyPoint> plotPoints(const MadeSeason& s, std::size_t plot)
{
    std::vector<PhenologyPoint> points;
    for (std::size_t f = 0; f < s.days.size(); ++f) points.push_back({s.days[f], s.values[plot][f], s.flagged[f]});
    return points;
}

engine::PhenologySettings quick()
{
    engine::PhenologySettings settings;
    settings.bootstrap = 50;
    return settings;
}

double widthOf(const engine::PhenologyDate& d)
{
    return *d.high - *d.low;
}

// The acceptance figures over several seasons of four plots each: every date within 3
// days of the truth at 50 % and 5 days at 10 and 90 %, three in four intervals holding
// the truth, their median width under 12 days, and no dates for the bare plot.
TEST(Phenology, DatesAndIntervalsOfKnownSeasons)
{
    std::vector<double> errorsHalf, errorsOuter, widths;
    int held = 0, dates = 0;
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const MadeSeason s = makeSeason(seed);
        for (std::size_t p = 0; p < s.curves.size(); ++p) {
            SCOPED_TRACE("season " + std::to_string(seed) + " plot " + std::to_string(p));
            const PhenologyFit fit = engine::fitPhenology(plotPoints(s, p), quick());
            ASSERT_EQ(fit.method, PhenologyMethod::DoubleLogistic) << fit.reason;
            const auto truth = testing_support::trueDates(s.curves[p], s.days.front(), s.days.back());
            ASSERT_EQ(fit.dates.size(), 7u);
            for (std::size_t m = 0; m < 7; ++m) {
                const engine::PhenologyDate& d = fit.dates[m];
                if (d.metric == PhenologyMetric::Peak) continue;  // a flat top has no sharp peak
                ASSERT_TRUE(d.day && d.low && d.high) << engine::phenologyMetricName(d.metric) << ": " << d.why;
                const double error = std::abs(*d.day - truth[m]);
                const bool half = d.metric == PhenologyMetric::MidGreenup || d.metric == PhenologyMetric::MidSenescence;
                EXPECT_LE(error, half ? 3.0 : 5.0) << engine::phenologyMetricName(d.metric);
                (half ? errorsHalf : errorsOuter).push_back(error);
                widths.push_back(widthOf(d));
                held += *d.low <= truth[m] && truth[m] <= *d.high;
                ++dates;
            }
            // The outliers nobody flagged and the flagged frames carry no weight.
            for (std::size_t f = 0; f < s.days.size(); ++f) {
                if (s.flagged[f] || s.shadowed[p][f]) {
                    EXPECT_EQ(fit.weights[f], 0.0) << "frame " << f;
                }
            }
        }
        const PhenologyFit bare = engine::fitPhenology(plotPoints(s, s.curves.size()), quick());
        EXPECT_EQ(bare.method, PhenologyMethod::None);
        EXPECT_TRUE(bare.dates.empty());
        EXPECT_NE(bare.reason.find("季節の変化"), std::string::npos) << bare.reason;
    }
    std::sort(widths.begin(), widths.end());
    const double medianWidth = widths[widths.size() / 2];
    const double coverage = static_cast<double>(held) / dates;
    EXPECT_GE(coverage, 0.75);
    EXPECT_LT(medianWidth, 12.0);
    const auto worst = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
    const auto mean = [](const std::vector<double>& v) {
        double s = 0;
        for (const double x : v) s += x;
        return s / static_cast<double>(v.size());
    };
    std::printf("phenology: 50%% dates mean error %.2f d, worst %.2f d; 10/90%% dates mean %.2f d, worst %.2f d; "
                "intervals hold the truth %d/%d (%.0f %%), median width %.1f d\n",
                mean(errorsHalf), worst(errorsHalf), mean(errorsOuter), worst(errorsOuter), held, dates, 100 * coverage,
                medianWidth);
}

TEST(Phenology, SameSeedSameIntervals)
{
    const MadeSeason s = makeSeason(9);
    const PhenologyFit a = engine::fitPhenology(plotPoints(s, 0), quick());
    const PhenologyFit b = engine::fitPhenology(plotPoints(s, 0), quick());
    ASSERT_EQ(a.dates.size(), b.dates.size());
    for (std::size_t m = 0; m < a.dates.size(); ++m) {
        EXPECT_EQ(a.dates[m].low, b.dates[m].low);
        EXPECT_EQ(a.dates[m].high, b.dates[m].high);
    }
}

// Two crops in one season (a hump, then another): no double logistic follows it, the
// spline does and says so; its dates belong to the higher hump.
TEST(Phenology, SplineWhereTheDoubleLogisticCannotFollow)
{
    const testing_support::TrueCurve first{0.15, 0.15, 0.8, 40, 4, 90, 4}, second{0.0, 0.0, 0.5, 140, 4, 190, 4};
    testing_support::SeasonRandom random{3};
    std::vector<PhenologyPoint> points;
    for (double day = 0; day <= 230; day += 2 + 4 * random.unit()) {
        points.push_back({day, first.at(day) + second.at(day) + 0.015 * random.normal(), false});
    }
    const PhenologyFit fit = engine::fitPhenology(points, quick());
    ASSERT_EQ(fit.method, PhenologyMethod::Spline);
    const auto& mid = fit.dates[static_cast<std::size_t>(PhenologyMetric::MidGreenup)];
    ASSERT_TRUE(mid.day);
    EXPECT_NEAR(*mid.day, 40, 3);
    EXPECT_EQ(fit.curveDays.front(), points.front().day);
    EXPECT_EQ(fit.curveDays.back(), points.back().day);

    // Frames that begin part-way up a slower first rise show no base for it: no green-up
    // dates, rather than dates measured from the first frame.
    const testing_support::TrueCurve slow{0.15, 0.15, 0.8, 50, 8, 95, 4};
    std::vector<PhenologyPoint> cut;
    for (double day = 36; day <= 230; day += 2 + 4 * random.unit()) {
        cut.push_back({day, slow.at(day) + second.at(day) + 0.015 * random.normal(), false});
    }
    const PhenologyFit late = engine::fitPhenology(cut, quick());
    ASSERT_EQ(late.method, PhenologyMethod::Spline);
    for (const PhenologyMetric m : {PhenologyMetric::StartOfSeason, PhenologyMetric::MidGreenup, PhenologyMetric::Maturity}) {
        const auto& d = late.dates[static_cast<std::size_t>(m)];
        EXPECT_FALSE(d.day) << engine::phenologyMetricName(m);
        EXPECT_NE(d.why.find("基底が見えない"), std::string::npos) << d.why;
    }
}

// A season whose frames stop at the peak: the green-up's dates, none for the fall, and
// each missing date says why; too few points give no fit at all.
TEST(Phenology, PartOfASeason)
{
    const MadeSeason s = makeSeason(2);
    std::vector<PhenologyPoint> points = plotPoints(s, 0);
    std::erase_if(points, [&](const PhenologyPoint& p) { return p.day > s.curves[0].m1 + 40; });
    const PhenologyFit fit = engine::fitPhenology(points, quick());
    ASSERT_NE(fit.method, PhenologyMethod::None) << fit.reason;
    const auto truth = testing_support::trueDates(s.curves[0], 0, 300);
    const auto& mid = fit.dates[static_cast<std::size_t>(PhenologyMetric::MidGreenup)];
    ASSERT_TRUE(mid.day) << engine::phenologyMethodName(fit.method) << " " << mid.why;
    EXPECT_NEAR(*mid.day, truth[1], 3);
    for (const PhenologyMetric m : {PhenologyMetric::Senescence, PhenologyMetric::MidSenescence, PhenologyMetric::EndOfSeason}) {
        const auto& d = fit.dates[static_cast<std::size_t>(m)];
        EXPECT_FALSE(d.day) << engine::phenologyMetricName(m);
        EXPECT_FALSE(d.why.empty());
    }

    points.resize(engine::kMinPhenologyPoints - 1);
    const PhenologyFit few = engine::fitPhenology(points, quick());
    EXPECT_EQ(few.method, PhenologyMethod::None);
    EXPECT_NE(few.reason.find("9 個"), std::string::npos) << few.reason;
}

// A fortnight without frames across the middle of the green-up: the curve bridges it
// and still puts the dates where the truth has them.
TEST(Phenology, BridgesAGapAcrossALimb)
{
    const testing_support::TrueCurve truth{0.12, 0.2, 0.8, 70, 5, 160, 6};
    const auto dates = testing_support::trueDates(truth, 0, 230);
    testing_support::SeasonRandom random{11};
    std::vector<PhenologyPoint> points;
    for (double day = 0; day <= 230; day += 2 + 4 * random.unit()) {
        if (day < 63 || day >= 77) points.push_back({day, truth.at(day) + 0.02 * random.normal(), false});
    }
    const PhenologyFit fit = engine::fitPhenology(points, quick());
    ASSERT_EQ(fit.method, PhenologyMethod::DoubleLogistic) << fit.reason;
    for (const PhenologyMetric m : {PhenologyMetric::StartOfSeason, PhenologyMetric::MidGreenup, PhenologyMetric::Maturity}) {
        const auto i = static_cast<std::size_t>(m);
        ASSERT_TRUE(fit.dates[i].day) << fit.dates[i].why;
        EXPECT_NEAR(*fit.dates[i].day, dates[i], m == PhenologyMetric::MidGreenup ? 3 : 5) << engine::phenologyMetricName(m);
    }
}

TEST(Phenology, TimesBothWays)
{
    const auto day = engine::phenologyDay("2026-05-01T10:00:00");
    ASSERT_TRUE(day);
    EXPECT_DOUBLE_EQ(*day, 20574 + 10.0 / 24);
    EXPECT_EQ(engine::phenologyTime(*day + 0.5), "2026-05-01T22:00:00");
    EXPECT_EQ(engine::phenologyTime(*day + 61.6), "2026-07-02T00:24:00");
    EXPECT_EQ(engine::phenologyTime(engine::phenologyDay("1969-12-31T23:59:59").value()), "1969-12-31T23:59:59");
    for (const char* bad : {"2026-05-01", "2026-05-01 10:00:00", "2026-13-01T10:00:00", "2026-05-01T10:00:0x"}) {
        EXPECT_FALSE(engine::phenologyDay(bad)) << bad;
    }
}

// Two folders' tables of one season make one; the same rows given twice count once.
TEST(Phenology, SeasonTablesRead)
{
    const std::string head = "file,time,region,pixels,ndvi_mean,panel_warning,savi_mean\n";
    const std::string one = head + "a/1.bmp,2026-05-01T10:00:00,A1,9,0.5,,0.3\n"
                                   "a/1.bmp,2026-05-01T10:00:00,\"B,2\",9,,,0.2\n"
                                   "a/2.bmp,2026-05-03T10:00:00,A1,9,0.6,saturated;dim,0.4\n";
    const std::string two = head + "b/3.bmp,2026-05-02T10:00:00,\"B,2\",9,0.25,,0.1\r\n"
                                   "b/3.bmp,2026-05-02T10:00:00,A1,9,0.55,,0.35\r\n";
    std::vector<engine::RegionSeason> seasons;
    std::size_t repeated = 0;
    engine::readSeasonTable(one, "one.csv", "ndvi_mean", seasons, repeated);
    engine::readSeasonTable(two, "two.csv", "ndvi_mean", seasons, repeated);
    engine::readSeasonTable(two, "two.csv", "ndvi_mean", seasons, repeated);
    EXPECT_EQ(repeated, 2u);
    ASSERT_EQ(seasons.size(), 2u);
    EXPECT_EQ(seasons[0].region, "A1");
    EXPECT_EQ(seasons[1].region, "B,2");
    ASSERT_EQ(seasons[0].points.size(), 3u);
    EXPECT_EQ(seasons[0].points[1].value, 0.6);
    EXPECT_TRUE(seasons[0].points[1].flagged);
    EXPECT_FALSE(seasons[0].points[2].flagged);
    ASSERT_EQ(seasons[1].points.size(), 1u);  // its empty value is a region without pixels
    EXPECT_EQ(seasons[1].points[0].value, 0.25);

    std::vector<engine::RegionSeason> other;
    engine::readSeasonTable(one, "one.csv", "savi_mean", other, repeated);
    EXPECT_EQ(other[1].points[0].value, 0.2);

    const auto message = [&](const std::string& text, const std::string& column) {
        try {
            std::vector<engine::RegionSeason> s;
            engine::readSeasonTable(text, "t.csv", column, s, repeated);
        } catch (const engine::PhenologyError& e) {
            return std::string(e.what());
        }
        return std::string("(read)");
    };
    EXPECT_EQ(message(one, "evi2_mean"), "t.csv: 季節表に列 evi2_mean がありません（_mean の列: ndvi_mean、savi_mean）");
    EXPECT_EQ(message(head + "a,2026-05-01,A1,9,0.5,,0.3\n", "ndvi_mean"),
              "t.csv の 2 行目: 時刻 2026-05-01 を読めません（YYYY-MM-DDTHH:MM:SS）");
    EXPECT_EQ(message(head + "a,2026-05-01T10:00:00,A1,9,0.5x,,0.3\n", "ndvi_mean"), "t.csv の 2 行目: ndvi_mean の値 0.5x を読めません");
    EXPECT_EQ(message(head + "a,2026-05-01T10:00:00,A1\n", "ndvi_mean"), "t.csv の 2 行目: 列が足りません");
    EXPECT_EQ(message("", "ndvi_mean"), "t.csv: 季節表が空です");
}

TEST(Phenology, DatesTable)
{
    PhenologyFit fit;
    fit.method = PhenologyMethod::DoubleLogistic;
    const double day = *engine::phenologyDay("2026-06-01T12:00:00");
    for (int m = 0; m < engine::kPhenologyMetrics; ++m) {
        engine::PhenologyDate d;
        d.metric = static_cast<PhenologyMetric>(m);
        d.value = 0.5;
        if (m == 0) {
            d.why = "横切らない";
        } else {
            d.day = day + m;
            if (m != 1) {
                d.low = day + m - 1;
                d.high = day + m + 1.5;
            }
        }
        fit.dates.push_back(d);
    }
    PhenologyFit none;
    none.reason = "季節の変化が見られません（振幅 0.01, 雑音 0.02）";
    EXPECT_EQ(engine::phenologyCsv({"A1", "bare"}, {fit, none}),
              "region,metric,date,low,high,value,method\n"
              "A1,start_of_season,,,,,横切らない\n"
              "A1,mid_greenup,2026-06-02T12:00:00,,,0.5,double_logistic\n"
              "A1,maturity,2026-06-03T12:00:00,2026-06-02T12:00:00,2026-06-05T00:00:00,0.5,double_logistic\n"
              "A1,peak,2026-06-04T12:00:00,2026-06-03T12:00:00,2026-06-06T00:00:00,0.5,double_logistic\n"
              "A1,senescence,2026-06-05T12:00:00,2026-06-04T12:00:00,2026-06-07T00:00:00,0.5,double_logistic\n"
              "A1,mid_senescence,2026-06-06T12:00:00,2026-06-05T12:00:00,2026-06-08T00:00:00,0.5,double_logistic\n"
              "A1,end_of_season,2026-06-07T12:00:00,2026-06-06T12:00:00,2026-06-09T00:00:00,0.5,double_logistic\n"
              "bare,none,,,,,\"季節の変化が見られません（振幅 0.01, 雑音 0.02）\"\n");
}

}  // namespace
