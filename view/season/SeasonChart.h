#pragma once
// The season's chart: for each plot region its NDVI mean over time as a line with
// markers and its p05 to p95 band as a translucent area, time across, NDVI up.

#include "view/season/SeasonFrames.h"

#include <QDateTime>
#include <QImage>
#include <QSize>

#include <vector>

class QChart;

namespace view {

// The x value of a frame's time (local time, as the table writes it); nothing when it
// cannot be read.
std::optional<qint64> chartTime(const std::string& isoTime);

// Fills chart (emptied first) with the entries that have figures; a plot without any
// valid pixel on a frame has no point there.
void fillSeasonChart(QChart& chart, const std::vector<SeasonEntry>& entries, const engine::RegionSet& regions);

// The chart drawn alone at size on white, for the PNG export.
QImage renderSeasonChart(const std::vector<SeasonEntry>& entries, const engine::RegionSet& regions, QSize size);

}  // namespace view
