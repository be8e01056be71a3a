#pragma once
// The batch tool's command line: a subcommand, input files and options. Numbers are
// read with the window's own integer conversion, so they mean what they would mean
// typed into the window's fields; reflectances are plain decimals, read the same
// whatever the locale.

#include "engine/calibration/Calibration.h"
#include "engine/calibration/Panel.h"
#include "engine/formats/NdviTiff.h"
#include "engine/ops/Kernels.h"
#include "engine/season/Season.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace engine {
class FlatField;
}

namespace batch {

enum class Command { Crop, Maxima, Ndvi, Calibrate, Series, FlatField, Anchor, Tags, Phenology };

struct Options {
    Command command = Command::Crop;
    std::vector<std::string> inputs;
    std::optional<std::string> output;      // -o, one input only
    std::optional<std::string> outDir;      // --out-dir
    std::array<std::int32_t, 4> rect{};     // --rect X1,Y1,X2,Y2
    std::int32_t nirWhite = 0;              // --nir-white, at least 1
    std::int32_t redWhite = 0;              // --red-white, at least 1
    // The white values with --panel-reflectance, --dark and --dark-reflectance, or
    // the model of --calibration's file; always one modelProblem() accepts. For
    // calibrate only the reflectances: the bytes come from the frame.
    engine::NdviModel model;
    std::optional<std::string> calibration;  // --calibration, the file the model came from
    // calibrate: the panel's and the dark target's rectangles, upright, and how the
    // white value is taken.
    engine::Rectangle whiteRect{0, 0, -1, -1};
    std::optional<engine::Rectangle> darkRect;
    engine::WhiteFrom whiteFrom = engine::WhiteFrom::Maximum;
    // calibrate, series: a failed check of the white panel or the dark target fails the
    // frame (calibrate writes no file, series leaves the frame out of the table)
    bool strict = false;
    // series: the regions file, the table, where each frame's time comes from, and
    // whether model is one fixed calibration for every frame (--calibration, or
    // --nir-white and --red-white) or only the reflectances of each frame's own panel.
    std::string regions;
    std::string csv;
    engine::TimeSource time;
    bool fixedCalibration = false;
    bool tiff = false;                      // the raster as float32 TIFF, not raw
    int tiffLevel = engine::kDefaultTiffLevel;  // its DEFLATE level
    bool enviHeader = false;
    std::optional<std::string> preview;     // --preview, one input only
    std::optional<std::string> previewDir;  // --preview-dir
    bool stats = false;
    bool json = false;
    bool force = false;
    int jobs = 0;                           // -j as given, at least 1; 0 means one per core
    // --flatfield (ndvi, calibrate, series): the file as read, every band corrected by it.
    std::shared_ptr<const engine::FlatField> flatField;
    std::optional<std::string> darkFrame;   // flatfield: --dark-frame
    // series: --overlay-dir, where each placed frame's picture with its tags and
    // regions drawn goes.
    std::optional<std::string> overlayDir;
    // ndvi, calibrate --regions: the file, and its white (and dark) region as a set the
    // season reads each frame's panel by (a stand-in plot of the white region's place
    // added, as a season needs one).
    std::optional<std::string> panelRegions;
    std::shared_ptr<const engine::RegionSet> panelSet;
    // series --project: the project file, its regions (then regions names the project
    // file) and its calibration's text (then calibration names it too).
    std::optional<std::string> project;
    std::shared_ptr<const engine::RegionSet> regionSet;
    std::optional<std::string> projectCalibration;
    // tags: the ids to print, in the order given, and the black border's outer side.
    std::vector<int> tagIds;
    double tagSizeMm = 0;
    // phenology: the season tables' column its curves are fitted to (--index-column),
    // and the folder for one chart a region (--png).
    std::string indexColumn = "ndvi_mean";
    // ndvi, series: --index (or the project's "index"); NDVI when not given.
    engine::VegetationIndex index;
    bool indexGiven = false;
    std::optional<std::string> pngDir;
};

struct HelpRequest {};

// Bad usage; the text says what is wrong.
struct UsageError {
    std::string message;
};

using ParseResult = std::variant<Options, HelpRequest, UsageError>;

// args are the arguments after the program name.
ParseResult parseCommandLine(const std::vector<std::string>& args);

// The --help text, in Japanese with the option names in English.
const char* helpText();

}  // namespace batch
