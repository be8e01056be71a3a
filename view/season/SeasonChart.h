#pragma once
// The season's chart: for each plot region its NDVI mean over time as a line with
// markers and its p05 to p95 band as a translucent area, time across, NDVI up.

#include "view/season/SeasonFrames.h"

#include "engine/season/Phenology.h"

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QStringList>

#include <set>
#include <string>
#include <vector>

class QChart;

namespace view {

// The x value of a frame's time (local time, as the table writes it); nothing when it
// cannot be read.
std::optional<qint64> chartTime(const std::string& isoTime);

// What the chart shows of the plots: six plots' bands over each other hide the lines.
struct ChartShown {
    std::set<std::string> hiddenPlots;  // by name
    bool bands = true;                  // each plot's p05 to p95
    // Each plot's fitted seasonal curve and its dates (engine/season/Phenology.h, as
    // `zrvimage-batch phenology` fits them), drawn dashed with the dates on it.
    bool phenology = false;
};

// A frame flagged (its white panel or dark target failed their checks): its points are
// hollow, and this says why, for the point's tooltip.
QString flaggedText(const SeasonEntry& entry);

// The name of the series of a plot's flagged points; the chart's own, not for the legend.
QString flaggedSeriesName(const QString& plot);

// Fills chart (emptied first) with the entries that have figures; a plot without any
// valid pixel on a frame has no point there. A flagged frame's points are drawn hollow,
// apart from the others.
void fillSeasonChart(QChart& chart, const std::vector<SeasonEntry>& entries, const engine::RegionSet& regions,
                     const ChartShown& shown = {});

// The lines written above the exported chart: a title, the dates with their year, the
// calibration rule and the flat-field, if any.
QStringList seasonChartCaption(const QString& title, const std::vector<SeasonEntry>& entries,
                               const engine::RegionSet& regions, const engine::SeasonSettings& settings);

// A plot's points for the phenology fit: each frame's mean, its day as the season table
// writes its time, flagged frames marked (never fitted).
std::vector<engine::PhenologyPoint> phenologyPoints(const std::vector<SeasonEntry>& entries, std::size_t plot);

// The date's name for people ("生育開始" for start_of_season, ...).
QString phenologyMetricText(engine::PhenologyMetric metric);

// How the season's frames are calibrated, for people.
QString calibrationRuleText(const engine::RegionSet& regions, const engine::SeasonSettings& settings);

// The chart drawn alone at size on white, for the PNG export, the caption above it.
QImage renderSeasonChart(const std::vector<SeasonEntry>& entries, const engine::RegionSet& regions, QSize size,
                         const ChartShown& shown = {}, const QStringList& caption = {});

}  // namespace view
