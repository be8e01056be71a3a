#pragma once
// The lines a batch writes to standard output, one per file: tab-separated text or
// one JSON object.

#include "engine/calibration/Calibration.h"
#include "engine/formats/ShortestText.h"
#include "engine/ops/NdviStats.h"
#include "engine/ops/VegetationIndex.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace batch {

using engine::NdviStats;

struct MaximaResult {
    std::string path;
    std::string red, green, blue;  // decimal, as the window's labels show them
};

struct NdviResult {
    std::string path;
    std::string output;
    std::string header;   // empty when none was written
    std::string preview;  // empty when none was written
    std::int64_t width = 0;
    std::int64_t height = 0;
    engine::NdviModel model;  // the calibration the raster was made with
    engine::VegetationIndex index;  // the values' index
    std::optional<NdviStats> stats;
};

// "path<TAB>red<TAB>green<TAB>blue", or {"path":..,"red":..,"green":..,"blue":..}.
std::string maximaLine(const MaximaResult& result, bool json);

// Text: "path<TAB>markers=N<TAB>min=..<TAB>max=..<TAB>mean=..<TAB>stddev=..<TAB>
// histogram=c0,...,c19<TAB>model=nir:W,RW,D,RD;red:W,RW,D,RD" ("-" where there is no
// value; W and D the white panel's and dark target's bytes, RW and RD their
// reflectances), written only with statistics.
// JSON: path, output, width, height, model ({"nir":{"white":..,"white_reflectance":..,
// "dark":..,"dark_reflectance":..},"red":{..}}), header and preview when written, and
// the statistics' keys markers, min, max, mean, stddev (null when there is no value),
// histogram.
// For an index other than NDVI, the text has index=NAME[:PARAM] after the path and
// the JSON "index"; the histogram's bins are NDVI's -1..+1, so an index that goes
// beyond them (sr, evi2, tdvi) has none: "histogram=-" and null.
std::string ndviLine(const NdviResult& result, bool json);

// A JSON string literal. Bytes that are not well-formed UTF-8 (a file name in
// another encoding) become \ufffd, one for each maximal ill-formed part, so the line
// stays valid JSON.
std::string jsonString(std::string_view text);

using engine::shortestText;

}  // namespace batch
