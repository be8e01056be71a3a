#pragma once
// Fiducial markers (AprilTags of the tag36h11 family) that let a season follow its
// regions when the camera is held by hand and the panel card is laid anew each visit.
//
// A regions file anchored to markers (Regions.h) names the tags that stand still with
// the field; its plot regions are in the pixels of a reference frame, and in each
// frame they are carried over by the homography fitted from the reference frame's field
// tags to this frame's. A region with a "tag" is in that tag's own units and moves with
// that tag alone.
//
// Coordinates are those of the pixel edges: pixel (x, y) covers x .. x + 1, y .. y + 1,
// its centre at (x + 0.5, y + 0.5), as the polygons of a regions file.

#include "engine/season/Regions.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace engine {

struct FoundTag {
    int id = 0;
    TagCorners corners;
    double margin = 0;  // the decoder's decision margin: higher is surer
};

// A grey picture, one byte a pixel, rows stride bytes apart.
struct GreyView {
    std::int64_t width = 0, height = 0, stride = 0;
    const std::uint8_t* pixels = nullptr;
};

// The tags of the family found in the picture: each id at most once (an id seen twice
// is left out, as neither can be trusted), sorted by id. Decoded with at most one bit
// corrected. The corners are refined at full resolution after a search at a reduced
// one; within 0.3 pixel of the truth on tags of 40 pixels and more.
std::vector<FoundTag> findTags(const GreyView& picture);

// A tag as printed, its white margin one cell wide around the black border included:
// side x side cells (10 for tag36h11), row by row from the top, 1 where black. The
// border's outer corners, the corners findTags() gives, are at cells (1, 1) and
// (side - 1, side - 1). Throws std::out_of_range for an id outside the family.
struct TagPattern {
    int side = 0;
    std::vector<std::uint8_t> black;
};
TagPattern tagPattern(int id);

// A 3x3 projective map, row-major, h[8] = 1 once normalised.
struct Homography {
    std::array<double, 9> h{1, 0, 0, 0, 1, 0, 0, 0, 1};
    Vertex map(const Vertex& p) const noexcept;
};

// The least-squares homography taking each from[i] to to[i] (at least four pairs, not
// all on one line); nothing when they do not fix one.
std::optional<Homography> fitHomography(const std::vector<Vertex>& from, const std::vector<Vertex>& to);

// The map from a tag's units to the picture, through its four corners.
Homography tagHomography(const TagCorners& corners);

// Where one frame's regions lie, from the tags found on it.
struct Registration {
    std::vector<FoundTag> tags;       // every tag found, sorted by id
    int fieldFound = 0;               // field tags found that the reference also holds
    std::optional<double> rmsPx;      // the field fit's corner residual; nothing without a field fit
    RegionSet mapped;                 // the regions in this frame's pixels, no markers, no tags
    // Why the frame cannot be used, in Japanese; then mapped is empty.
    std::optional<std::string> problem;
};

// The field fit's corner residual, in pixels, past which the field tags no longer agree
// with the reference frame's: the corners themselves are found within a few tenths.
inline constexpr double kMaxRegistrationRms = 2.0;

// Maps every region of the set into the frame whose tags were found: plot regions by
// the field fit (when the set names field tags), a region with a tag by that tag alone;
// a rect becomes the quadrilateral of its mapped pixel edges, a polygon its mapped
// points. Fewer than two field tags found, a field set without a reference, or a
// region's own tag not found is a problem naming the tags; so is a field fit whose
// residual passes kMaxRegistrationRms, after leaving out the one tag (of three or more)
// that brings it within, if one does: a tag moved since the reference frame.
Registration registerRegions(const RegionSet& set, const std::vector<FoundTag>& tags);

// The set with markers.reference filled from the field tags found on the frame the
// plot regions were drawn on. Throws RegionsError naming the missing tags when fewer
// than two of the field tags were found.
RegionSet anchorRegions(const RegionSet& set, const std::vector<FoundTag>& tags);

// The grey picture of a frame's visible-red (green) byte, where printed black stays
// black in both bands, from rows of blue, green, red.
struct GreyPicture {
    std::int64_t width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // width x height
    GreyView view() const noexcept { return {width, height, width, pixels.data()}; }
};

class PictureReader;
// Reads every row of the frame once. The reader must have passed require24Bit().
GreyPicture greenOf(PictureReader& reader);
GreyPicture greenOf(std::int64_t width, std::int64_t height, const std::function<const std::uint8_t*(std::int64_t)>& row);

}  // namespace engine
