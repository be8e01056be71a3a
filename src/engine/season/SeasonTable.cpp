#include "engine/season/Season.h"

#include "engine/formats/ShortestText.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace engine {

namespace {

// A float is written as the double it is, so that it reads back as that same double.
template <typename T>
std::string optionalNumber(const std::optional<T>& v)
{
    return v ? shortestText(static_cast<double>(*v)) : std::string();
}


}  // namespace

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string seasonCsvHeader(bool markers, const VegetationIndex& index)
{
    std::string header = "file,time,region,pixels,";
    for (const char* figure : {"mean", "std", "min", "p05", "median", "p95", "max"}) {
        header += std::string(index.name()) + "_" + figure + ",";
    }
    return header + "nodata_pixels,nir_mean,red_mean,saturated_pixels,nir_white,red_white,panel_warning,nir_dark,"
                    "red_dark"
           + (markers ? ",markers_found,registration_rms_px\n" : "\n");
}

std::string seasonCsvRows(const SeasonFrame& frame, const RegionSet& regions)
{
    const FrameFigures& f = frame.figures;
    std::string warnings;
    for (const PanelCheck check : f.panelWarnings) {
        if (!warnings.empty()) warnings += ';';
        warnings += panelCheckKey(check);
    }
    std::string darks = ",";
    if (f.hasDark) {
        // The floats the model uses, as the shortest text that reads back as that float:
        // a mean of 12.4 reads 12.4, not the double nearest the float.
        darks = shortestText(f.model.nir.dnDark) + ',' + shortestText(f.model.red.dnDark);
    }
    std::string placed;
    if (regions.usesMarkers()) {
        placed = ',';
        if (f.registration) {
            placed += std::to_string(f.registration->fieldFound) + ',';
            // In thousandths of a pixel: the corners are found to a few hundredths, and an
            // unmoved frame's 1e-14 is no figure.
            if (f.registration->rmsPx) placed += shortestText(std::round(*f.registration->rmsPx * 1000) / 1000);
        } else {
            placed += ',';
        }
    }
    const std::string tail = ',' + shortestText(static_cast<double>(f.model.nir.dnWhite)) + ','
                             + shortestText(static_cast<double>(f.model.red.dnWhite)) + ',' + warnings + ',' + darks
                             + placed + '\n';
    const std::string head = csvField(frame.file) + ',' + csvField(frame.time) + ',';
    const std::vector<const Region*> plots = regions.plots();
    std::string rows;
    for (std::size_t i = 0; i < plots.size() && i < f.plots.size(); ++i) {
        const RegionFigures& r = f.plots[i];
        rows += head + csvField(plots[i]->name) + ',' + std::to_string(r.pixels) + ',' + optionalNumber(r.mean) + ','
                + optionalNumber(r.stddev) + ',' + optionalNumber(r.min) + ',' + optionalNumber(r.p05) + ','
                + optionalNumber(r.median) + ',' + optionalNumber(r.p95) + ',' + optionalNumber(r.max) + ','
                + std::to_string(r.nodata) + ',' + shortestText(r.nirMean) + ',' + shortestText(r.redMean) + ','
                + std::to_string(r.saturated) + tail;
    }
    return rows;
}


}  // namespace engine
