#pragma once
// The figures of every region on the frame shown, worked out by the engine's season
// rules (Season.h), so the side panel gives the very numbers the season table and
// `zrvimage-batch series` give for the plots. The white panel and the dark target are
// measured too, under the same calibration, for the user to check them.

#include "engine/season/Season.h"
#include "view/LoadedPicture.h"

#include <QString>
#include <QStringList>

#include <mutex>

#include <optional>
#include <vector>

namespace view {

struct RegionRow {
    bool inside = true;  // false: not wholly inside the picture, so not measured
    std::optional<engine::RegionFigures> figures;
};

struct RegionTable {
    std::vector<RegionRow> rows;  // one per region, in the set's order
    // The calibration used; nothing when the frame could not be measured.
    std::optional<engine::NdviModel> model;
    bool ownPanel = false;  // the model came from this frame's white region
    QStringList panelWarnings;
    QString problem;  // why there are no figures, for the user; empty when there are
    // For regions anchored to markers: the tags found on the frame and, unless it has a
    // problem, the regions placed on it (the rows are of those).
    std::optional<engine::Registration> registration;
};

// The tags on one picture, searched for once however many tables ask (from any thread):
// an edit of the regions does not search the frame again.
class PictureTags {
public:
    // Throws what the search throws, and searches again at the next call.
    const std::vector<engine::FoundTag>& of(const LoadedPicture& picture);

private:
    std::once_flag once_;
    std::vector<engine::FoundTag> tags_;
};

// Runs over the rows the regions span only; for regions anchored to markers, the whole
// frame is searched for its tags first (through tags when given, which must be of this
// picture). A raster has values but no bytes: its rows only say whether each region is
// inside.
RegionTable regionTable(const LoadedPicture* picture, const engine::RegionSet& set,
                        const engine::SeasonSettings& settings, PictureTags* tags = nullptr);

// How many pixels the table reads, to choose between working it out at once and in the
// background: the regions' bounds together, or the whole picture when its tags are
// searched for.
std::int64_t regionTableWork(const engine::RegionSet& set, const LoadedPicture* picture = nullptr);

// What a frame's placement used, for people: the tags found, and the field tags the fit
// used with its corner residual in pixels (the season table's markers_found and
// registration_rms_px).
QString placementText(const engine::Registration& placed);

// The tags on a bitmap's visible-red (green) byte, where they print black; none on a
// raster.
std::vector<engine::FoundTag> tagsOnPicture(const LoadedPicture& picture);

}  // namespace view
