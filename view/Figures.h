#pragma once
// The figures the viewer shows: the pointer's pixel, and for a rectangle its channel
// maxima, means and deviations and the statistics of its NDVI values, all from the
// engine's kernels (ChannelMaxima, NdviTable, NdviStatsAccumulator), so they are the
// very figures the operations give. Also the texts they are shown and copied in.

#include "engine/calibration/Panel.h"
#include "engine/ops/Kernels.h"
#include "engine/ops/NdviStats.h"
#include "engine/ops/VegetationIndex.h"
#include "view/LoadedPicture.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace view {

struct ChannelFigures {
    int max = 0;
    double mean = 0.0;
    double stddev = 0.0;  // population
    std::array<std::uint64_t, 256> counts{};
};

struct RegionFigures {
    engine::Rectangle area{0, 0, -1, -1};  // fitted to the picture; empty when x1 > x2 or y1 > y2
    std::uint64_t pixels = 0;
    bool channels = false;  // false for a raster
    ChannelFigures red, green, blue;
    engine::NdviStats ndvi;  // of the index below, its histogram over the index's range
    QString index = QStringLiteral("NDVI");  // the index's name the figures are labelled by
};

// The index's name in figures and fields: "NDVI", "SAVI".
QString indexName(const engine::VegetationIndex& index);

// The index a raster's description names as the exports and zrvimage-batch write it
// ("SAVI (L=0.3), NIR: ..." in a TIFF or an ENVI header, "NDVI, NIR: ..." in an ENVI
// header); nothing when it names none.
std::optional<engine::VegetationIndex> indexNamedBy(const std::string& description);

// The histogram's bin of a value of index: the engine's NDVI bins over -1..+1, for
// another index 20 as wide over its range (indexRange), values beyond in the end bins.
int indexBin(const engine::VegetationIndex& index, float value) noexcept;

// The channel figures of a fitted rectangle (bitmaps only; a raster has none).
RegionFigures channelFigures(const LoadedPicture& picture, const engine::Rectangle& area);

// The NDVI statistics of the same rectangle: the values table gives for a bitmap, the
// stored values for a raster. Rows are added top row first, as the operations do.
// corrected, when given, holds a bitmap's NDVI through a flat-field (one value a pixel,
// row-major), which is read in place of the table's.
// index is the one table and corrected hold, whose range the histogram spans.
engine::NdviStats ndviFigures(const LoadedPicture& picture, const engine::Rectangle& area,
                              const engine::NdviTable* table, const float* corrected = nullptr,
                              const engine::VegetationIndex& index = {});

// The NDVI histogram and marker count of the whole picture. For a bitmap it comes from
// the byte-pair counts, so only 65536 values are looked at; through a flat-field, from
// every corrected value.
engine::NdviStats wholePictureHistogram(const LoadedPicture& picture, const engine::NdviTable* table,
                                        const float* corrected = nullptr, const engine::VegetationIndex& index = {});

// How the white value is taken from the panel's rectangle: the engine's rules, which
// zrvimage-batch calibrate uses too.
using WhiteChoice = engine::WhiteFrom;

struct WhiteValues {
    int nir = 255;
    int red = 255;
};

// The rectangle's pixels as the engine's panel rules and checks take them: the red
// byte is NIR, the green byte visible red.
engine::PanelPixels panelPixelsOf(const RegionFigures& figures);

// The white values a rectangle over the panel gives: its red (NIR) and green (red)
// maxima, rounded means or 99th percentiles, kept within 1..255. Needs pixels.
WhiteValues whiteValuesOf(const RegionFigures& figures, WhiteChoice choice);

// The dark target's values a rectangle over it gives: its red (NIR) and green (red)
// means with their fractions, within 0..254 (engine::darkValue).
struct DarkValues {
    float nir = 0;
    float red = 0;
};
DarkValues darkValuesOf(const RegionFigures& figures);

// `x=<x> y=<y>  R=<r> G=<g> B=<b>  NDVI=<v>`, or `x=<x> y=<y>  NDVI=<v>` for a raster;
// another index's name in place of NDVI. corrected as for ndviFigures.
QString pointerText(const LoadedPicture& picture, const engine::NdviTable* table, std::int64_t x, std::int64_t y,
                    const float* corrected = nullptr, const QString& index = QStringLiteral("NDVI"));

// An NDVI value with four decimals, the marker as -10.
QString ndviText(float value);

// The panel's lines: 範囲, 画素数, the three channels, the index and the marker count.
QStringList figureLines(const RegionFigures& figures);

// The figures as fields for a spreadsheet: names, and values in the same order.
QStringList figureFieldNames(const QString& index = QStringLiteral("NDVI"));
QStringList figureFieldValues(const RegionFigures& figures);

// `X1,Y1,X2,Y2` as the window's fields and zrvimage-batch --rect take them.
QString rectangleText(const engine::Rectangle& area);

}  // namespace view
