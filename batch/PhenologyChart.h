#pragma once
// The chart phenology --png writes for a region: its values over the season (the
// points fitted filled, the flagged frames' hollow, the outliers the robust fit left
// out as crosses), the fitted curve, and each date as a line with its interval as a bar
// and its short name (SOS start_of_season, MG mid_greenup, MAT maturity, PK peak, SEN
// senescence, MS mid_senescence, EOS end_of_season). The font is ASCII only, so the
// labels are the table's own names and numbers.

#include "engine/season/Phenology.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace batch {

inline constexpr int kChartWidth = 960, kChartHeight = 540;

// The PNG file of the chart; empty when it could not be encoded.
std::vector<std::uint8_t> phenologyChartPng(const std::string& region, std::span<const engine::PhenologyPoint> points,
                                            const engine::PhenologyFit& fit, const std::string& column);

// The chart's file name for a region: its name with the characters no file name may
// hold (/ \ : * ? " < > | and controls) as '_', then ".png".
std::string chartName(const std::string& region);

}  // namespace batch
