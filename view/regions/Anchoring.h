#pragma once
// Regions anchored to the field's markers (AprilTags), as zrvimage-batch anchor does,
// from the frame the user is looking at; no widgets, the window asks and tells.

#include "engine/season/Markers.h"
#include "engine/season/Regions.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace view {

// A region drawn on a frame placed as placed, carried back to the reference frame's
// pixels by the field tags; as drawn when the set is not anchored; nothing when this
// frame's place is not known.
std::optional<engine::Region> regionToReference(const engine::RegionSet& set,
                                               const std::optional<engine::Registration>& placed, engine::Region region);

// Which of the tags found (ids) stand still with the field, those in proposed ticked
// first; nothing: cancelled.
using FieldTagsQuestion =
    std::function<std::optional<std::vector<int>>(const std::vector<int>& found, const std::vector<int>& proposed)>;

// The set anchored; or why not, in Japanese; or neither when the user cancelled.
struct AnchorOutcome {
    std::optional<engine::RegionSet> set;
    QString problem;
};

// set as it lies on a frame of width x height with these tags anchored to them: regions
// already anchored are anchored anew where they lie on it; the field tags asked for
// when the set names none yet. Refused when fewer than two field tags are found or a
// plot would lie past the frame.
AnchorOutcome anchorToTags(engine::RegionSet set, const std::vector<engine::FoundTag>& tags, std::int64_t width,
                           std::int64_t height, const FieldTagsQuestion& askFieldTags);

}  // namespace view
