#pragma once
// What the viewer works out through a flat-field: the corrected NDVI of a whole frame
// held in memory (the values the view, the figures and the exports then read), a white
// panel's and a dark target's values from corrected pixels, and the text the side panel
// shows about the flat-field in use. All of it by the engine's correction, so it gives
// the very numbers zrvimage-batch gives with --flatfield.

#include "engine/calibration/FlatField.h"
#include "engine/ops/VegetationIndex.h"
#include "engine/season/Regions.h"
#include "view/Figures.h"
#include "view/LoadedPicture.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace view {

// The corrected NDVI (or another index) of every pixel of a bitmap of flat's size,
// row-major, top row first: the values runCorrectedNdvi gives. model must have passed
// modelProblem().
std::unique_ptr<float[]> correctedNdvi(const LoadedPicture& picture, const engine::FlatField& flat,
                                       const engine::NdviModel& model, const engine::VegetationIndex& index = {});

// A white panel's or a dark target's values read from corrected pixels, with the white
// panel's or the dark target's checks (their sentences).
struct PanelReading {
    float nir = 0;
    float red = 0;
    std::vector<std::string> warnings;
};
// The rectangle must lie inside the picture, which must be flat's size.
PanelReading correctedWhite(const LoadedPicture& picture, const engine::FlatField& flat,
                            const engine::Rectangle& area, WhiteChoice choice);
// The dark target's values and the checks it fails against these white values.
PanelReading correctedDark(const LoadedPicture& picture, const engine::FlatField& flat,
                           const engine::Rectangle& area, float nirWhite, float redWhite);

// The smallest gain of either band over the frame: the low end of the gain view's scale,
// whose high end is 1.
float lowestGain(const engine::FlatField& flat);

// "周辺減光補正: ff.tif（W×H）" and a line per band with its corner fall-off and the
// fit's RMS residual.
QString flatFieldText(const engine::FlatField& flat);

}  // namespace view
