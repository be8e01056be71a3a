#pragma once
// zrvimage-batch tags: an A4 sheet of markers to print, one tag a cell with its number
// under it, and a 50 mm scale bar at the foot to check the printed size by. The tag's
// black border is size-mm wide on its outer side; its white margin of one cell comes on
// top. As SVG in millimetres, or as a 300 dpi PNG of the same layout.

#include "batch/CommandLine.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace batch {

inline constexpr double kSheetWidthMm = 210, kSheetHeightMm = 297;
inline constexpr int kSheetDpi = 300;
inline constexpr double kScaleBarMm = 50;

// Where each tag goes: the top-left corner of its pattern (white margin included) in mm
// from the sheet's top-left corner; nothing when they do not all fit one sheet, and
// then fit holds how many would.
struct SheetLayout {
    double patternMm = 0;  // the pattern's side, white margin included
    std::vector<std::pair<double, double>> places;
};
std::optional<SheetLayout> sheetLayout(std::size_t tags, double sizeMm, std::size_t& fit);

// The sheets' files.
std::string tagSheetSvg(const std::vector<int>& ids, double sizeMm, const SheetLayout& layout);
std::vector<std::uint8_t> tagSheetPng(const std::vector<int>& ids, double sizeMm, const SheetLayout& layout);

// Runs tags for parsed options; 0, 1 when the file cannot be written, 2 for bad usage
// (more tags than fit a sheet among it) or an existing file without --force.
int runTags(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace batch
