#pragma once
// A season: the figures of each plot region over a series of frames, each frame read
// once and calibrated by its own white panel (or by one fixed calibration), as one CSV
// table. `zrvimage-batch series` and the viewer's season chart share all of it, so the
// two give the same table for the same frames and regions.

#include "engine/calibration/Calibration.h"
#include "engine/calibration/Panel.h"
#include "engine/ops/Runs.h"
#include "engine/ops/VegetationIndex.h"
#include "engine/season/Markers.h"
#include "engine/season/Regions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

class FlatField;
class PictureReader;

// The figures of one plot region on one frame.
struct RegionFigures {
    std::uint64_t pixels = 0;  // all the region's pixels
    std::uint64_t nodata = 0;  // pixels whose value (NDVI or the settings' index) is the -10 marker
    // Over the pixels whose value is not -10; nothing when there are none. The standard
    // deviation is the population one; the percentiles are nearest-rank: the value at
    // position ceil(p / 100 * n) of the n values sorted ascending (median = p50).
    std::optional<double> mean, stddev;
    std::optional<float> min, p05, median, p95, max;
    // Means of the bytes over all the region's pixels: NIR the red byte, Red the green.
    double nirMean = 0, redMean = 0;
    std::uint64_t saturated = 0;  // pixels with 255 in either band
};

// How each frame is calibrated.
struct SeasonSettings {
    // The same calibration for every frame (--calibration, or --nir-white and
    // --red-white); without it, each frame's white region (and dark region, when the
    // set has one) gives that frame's white (and dark) values by the rules of Panel.h.
    std::optional<NdviModel> fixed;
    WhiteFrom whiteFrom = WhiteFrom::Maximum;
    // The panel's and the dark target's reflectances (rWhite, rDark of each band); their
    // dnWhite and dnDark are ignored, taken from the frame.
    NdviModel reflectances;
    // When set, each band of every pixel is corrected by it (FlatField.h) before the
    // panel is read and before any reflectance; the frames must be its size.
    std::shared_ptr<const FlatField> flatField;
    // The index whose figures the regions get (VegetationIndex.h): NDVI unless asked.
    VegetationIndex index;
};

// Why the settings cannot be used with these regions (no plot region; neither a fixed
// calibration nor a white region; a fixed model or reflectances modelProblem() refuses),
// in Japanese; nothing when they can.
std::optional<std::string> seasonProblem(const RegionSet& regions, const SeasonSettings& settings);

// The figures of one frame.
struct FrameFigures {
    NdviModel model;  // the calibration used for it
    // The panel checks its white region and its dark region failed (Panel.h), in their
    // order; none with a fixed calibration.
    std::vector<PanelCheck> panelWarnings;
    // Their sentences, for people, in the same order.
    std::vector<std::string> warningTexts;
    // The model has a dark target: the frame's own dark region, or a fixed calibration's.
    bool hasDark = false;
    std::vector<RegionFigures> plots;  // one per RegionSet::plots(), in that order
    // For a set anchored to markers: the tags found and where the regions were placed.
    std::optional<Registration> registration;
};

// Reads the frame once (only the rows its regions span) and gives its figures. The
// reader must have passed require24Bit(). Throws EngineError as the reader does, with
// the frame's path; RegionsError naming the frame and the region when a region does not
// lie wholly inside the frame, when the regions are anchored to markers and cannot be
// placed on this frame (Markers.h: too few field tags, a region's tag not found; the
// whole frame is read for its tags first), and when the frame's own panel gives an unusable model
// (modelProblem) or is not the flat-field's size (both sizes in the message). control's
// cancel is honoured between blocks of rows.
FrameFigures seasonFrameFigures(PictureReader& reader, const RegionSet& regions, const SeasonSettings& settings,
                                const RunControl& control = {});

// The same over a frame already in memory (the viewer's): row(y) gives image row y from
// the top, width * 3 bytes of blue, green, red. path names the frame in messages.
using FrameRowAccess = std::function<const std::uint8_t*(std::int64_t y)>;
FrameFigures seasonFrameFigures(std::int64_t width, std::int64_t height, const FrameRowAccess& row,
                                const std::string& path, const RegionSet& regions, const SeasonSettings& settings);

// Where a frame's time comes from: the file's modification time, or its name read by a
// pattern of %Y %m %d %H %M %S from its start (what follows is ignored; %% is a %).
struct TimeSource {
    enum class Kind { ModificationTime, Name } kind = Kind::ModificationTime;
    std::string pattern;  // for Name

    // "mtime" or "name:PATTERN"; nothing for any other text, an empty pattern, or a
    // pattern with another directive or without all of %Y, %m and %d (a time needs its
    // date; %H %M %S default to 0).
    static std::optional<TimeSource> byText(std::string_view text);
};

// The frame's time as ISO 8601 local time, YYYY-MM-DDTHH:MM:SS. Throws RegionsError
// naming the frame when its name does not match the pattern, or its modification time
// cannot be read.
std::string frameTime(const std::string& path, const TimeSource& source);

// One frame of the table.
struct SeasonFrame {
    std::string file;  // as the user gave it
    std::string time;  // frameTime()
    FrameFigures figures;
};

// When the frames' times cannot be the times they were taken: at least two frames, all
// timed by their modification times and all of those within kSameTimeSeconds of each
// other, as copying from a card or unpacking an archive leaves them. A warning in
// Japanese proposing --time name:PATTERN, with a pattern that reads every frame's name
// when their names carry a date (as 20260601 or 2026-06-01 after the same prefix);
// nothing otherwise. where says where the pattern goes, spaces around it included:
// " --time " for the batch.
inline constexpr int kSameTimeSeconds = 10;
std::optional<std::string> seasonTimeWarning(const std::vector<SeasonFrame>& frames, const TimeSource& source,
                                             std::string_view where = " --time ");

// A pattern for --time name:PATTERN that reads a date (and a time when one follows) from
// every name given (file names without folders); nothing when none does.
std::optional<std::string> proposedNamePattern(const std::vector<std::string>& names);

// Frames sorted by time, then by file (byte order): the table's order.
void sortSeasonFrames(std::vector<SeasonFrame>& frames);

// A text as one CSV field: as it is, or quoted (quotes doubled) when it holds a comma,
// a quote or a line break.
std::string csvField(const std::string& text);

// The CSV header line, with its line end:
// file,time,region,pixels,ndvi_mean,ndvi_std,ndvi_min,ndvi_p05,ndvi_median,ndvi_p95,
// ndvi_max,nodata_pixels,nir_mean,red_mean,saturated_pixels,nir_white,red_white,
// panel_warning,nir_dark,red_dark; for regions anchored to markers (usesMarkers()) then
// markers_found,registration_rms_px. The seven figures' columns take the index's name
// (savi_mean, ...): ndvi_ for NDVI.
std::string seasonCsvHeader(bool markers = false, const VegetationIndex& index = {});

// The key of a check in the panel_warning column: "saturated", "uneven", "dim",
// "dark_saturated", "dark_uneven", "dark_bright".
const char* panelCheckKey(PanelCheck check) noexcept;

// The frame's rows, one per plot region in the set's order, each with its line end
// ("\n"). Numbers are written as the shortest text that reads back as the same double
// (std::to_chars); a figure that does not exist (no valid pixel) is an empty field;
// panel_warning is empty or the failed checks' keys (panelCheckKey) joined by ";";
// nir_dark and red_dark are the dark values used, with their fractions (the shortest
// text that reads back as the model's float), and empty
// without a dark target (FrameFigures::hasDark); markers_found is the field tags the
// fit used and registration_rms_px its corner residual in pixels (empty without a
// field fit). Fields are quoted as RFC 4180 says
// where they need it.
std::string seasonCsvRows(const SeasonFrame& frame, const RegionSet& regions);

}  // namespace engine
