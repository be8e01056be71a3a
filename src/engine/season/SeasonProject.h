#pragma once
// A season kept as one file: where its frames are, how they are timed and calibrated,
// and its regions. The viewer saves and opens it; `zrvimage-batch series --project`
// runs it as the same season given by flags.
//
//   {"format": "zrvimage-season", "version": 1,
//    "frames": "frames",
//    "time": "name:cam_%Y%m%d_%H%M%S",
//    "regions": {"regions": [ ... as in a regions file ... ]},
//    "white_from": "mean",
//    "panel_reflectance": [0.92, 0.90]}
//
// "frames" is a folder, relative to the project file (every .bmp in it); also optional:
// "calibration" (a calibration file's content: one fixed model for every frame),
// "dark_reflectance" [NIR, Red], "flatfield" (a path relative to the project file),
// "index" (the index the season's figures are of, as --index takes it: "savi:0.5").
// Unknown keys are ignored, so that later versions can add some.

#include "engine/calibration/Panel.h"
#include "engine/ops/VegetationIndex.h"
#include "engine/season/Regions.h"

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

inline constexpr const char* kProjectFormat = "zrvimage-season";
inline constexpr int kProjectVersion = 1;

struct SeasonProject {
    std::string frames;                                  // as written
    std::optional<std::string> time;                     // "mtime" or "name:PATTERN"
    RegionSet regions;
    std::optional<WhiteFrom> whiteFrom;
    std::optional<std::array<double, 2>> panelReflectance;  // NIR, Red
    std::optional<std::array<double, 2>> darkReflectance;
    std::optional<std::string> calibration;              // a calibration file's text
    std::optional<std::string> flatfield;                // as written
    std::optional<VegetationIndex> index;                // NDVI when not given
};

// A project file that cannot be read or used; what() is one line in Japanese naming
// the file.
class SeasonProjectError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Refuses, naming what is wrong: text that is not a JSON object; another "format"; a
// "version" other than 1 (a newer one says so); no "frames" folder; "regions" that
// parseRegions() refuses; a "time" TimeSource::byText() refuses; a "white_from" other
// than max, mean or p99; reflectances that are not two numbers in 0..1; "calibration"
// that is not an object; "flatfield" that is not a non-empty text; an "index"
// parseVegetationIndex() refuses.
SeasonProject parseSeasonProject(std::string_view json, const std::string& path);
SeasonProject readSeasonProject(const std::string& path);

// The JSON of a project, keys in the order above; parseSeasonProject() reads it back
// to the same project.
std::string seasonProjectJson(const SeasonProject& project);

// Writes it through the engine's output path: whole or not at all.
void writeSeasonProject(const std::string& path, const SeasonProject& project);

// A path the project gives (frames, flatfield) as it is found from here: relative ones
// from the project file's folder.
std::string projectPath(const std::string& projectFile, const std::string& written);

// Every .bmp (any case) directly in the project's frames folder, sorted by name (byte
// order); SeasonProjectError when the folder cannot be read.
std::vector<std::string> projectFrames(const std::string& projectFile, const SeasonProject& project);

}  // namespace engine
