#pragma once
// Named regions of a frame, for a season of frames taken from one place: plots drawn as
// rectangles or polygons, and at most one white panel and one dark target, each marked
// by its role. They live in a small JSON file that the viewer writes and the batch tool
// reads:
//
//   {"regions": [
//     {"name": "A1", "rect": [100, 200, 180, 260]},
//     {"name": "A2", "polygon": [[300, 200], [420, 210], [400, 300], [310, 290]]},
//     {"name": "panel", "rect": [20, 30, 60, 70], "role": "white"},
//     {"name": "dark", "rect": [70, 30, 90, 70], "role": "dark"}
//   ]}
//
// Unknown keys are ignored, so that later versions can add some.
//
// A set may be anchored to markers (Markers.h): "markers" names the tags that stand
// still with the field, and once anchored their corners on the frame the plots were
// drawn on; a region with "tag" is in that tag's units, (0, 0) the top-left outer
// corner of its black border as printed, (1, 1) the opposite one, its rect of numbers:
//
//   {"markers": {"family": "tag36h11", "field": [0, 1, 2, 3],
//                "reference": {"0": [[x, y], [x, y], [x, y], [x, y]], ...}},
//    "regions": [..., {"name": "panel", "role": "white", "tag": 7, "rect": [1.3, 0.1, 2.9, 1.7]}]}
//
// Which pixels a region holds: a rectangle's corners are included, x from the left and y
// from the top, as everywhere; a pixel is in a polygon when its centre (x + 0.5, y + 0.5)
// is inside it by the even-odd rule.

#include "engine/formats/Rectangle.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

enum class RegionRole { Plot, White, Dark };

// "white", "dark"; nullptr for a plot, which has no role in the file.
const char* regionRoleName(RegionRole role) noexcept;

struct Vertex {
    double x = 0, y = 0;
    friend bool operator==(const Vertex&, const Vertex&) = default;
};

// A tag's four outer corners of its black border, in the order printed: top-left,
// top-right, bottom-right, bottom-left; in tag units (0, 0), (1, 0), (1, 1), (0, 1).
using TagCorners = std::array<Vertex, 4>;

// The one marker family supported, and its ids 0 .. kTagFamilySize - 1.
inline constexpr const char* kTagFamily = "tag36h11";
inline constexpr int kTagFamilySize = 587;

// The "markers" object of a regions file.
struct MarkerSettings {
    std::vector<int> field;               // tags that stand still with the field, no id twice
    std::map<int, TagCorners> reference;  // their corners on the reference frame
    friend bool operator==(const MarkerSettings&, const MarkerSettings&) = default;
};

struct Region {
    std::string name;
    RegionRole role = RegionRole::Plot;
    // A rectangle, or a polygon when polygon is not empty (then rect is unused).
    Rectangle rect{0, 0, 0, 0};
    std::vector<Vertex> polygon;
    // Anchored to this tag alone: the polygon, or else unitRect (u1, v1, u2, v2, with
    // u1 < u2 and v1 < v2), is in its units; rect is unused.
    std::optional<int> tag;
    std::array<double, 4> unitRect{0, 0, 0, 0};

    bool isPolygon() const noexcept { return !polygon.empty(); }
};

struct RegionSet {
    std::vector<Region> regions;
    std::optional<MarkerSettings> markers;

    // Whether a frame must be searched for tags before its regions can be placed.
    bool usesMarkers() const noexcept;

    // The region of that role, or nullptr.
    const Region* white() const noexcept;
    const Region* dark() const noexcept;
    // The regions without a role, in the file's order: the plots a season reports.
    std::vector<const Region*> plots() const;
};

// A regions file that cannot be read or used. what() is one line in Japanese naming the
// file and, where one is at fault, the region (by name, or by its place in the list when
// it has none).
class RegionsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a set from JSON text; path is used in messages only. Refuses, with RegionsError:
// text that is not JSON or has no "regions" list; a region without a name, with an
// empty or repeated name, with neither or both of "rect" and "polygon", with an unknown
// role; a rect that is not four integers x1, y1, x2, y2 with x1 <= x2 and y1 <= y2, all
// at or above 0 (and at most 2^31 - 1); a polygon of fewer than three points or with a
// coordinate that is not a finite number or lies beyond +-2^24 (its rows are walked one by
// one); polygons whose rows times points, summed over the set, pass 2^24 (the one where
// the sum does is named); a polygon that holds no pixel; a second "white" or "dark"
// region; "markers" whose field is not a list of distinct tag ids, whose reference is
// not an object of ids to four [x, y] corners; a region whose tag is not an id of the
// family, or whose unit rect is not four finite numbers within +-1000 with u1 < u2 and
// v1 < v2.
RegionSet parseRegions(std::string_view json, const std::string& path);

// Reads the file; RegionsError also when it cannot be read.
RegionSet readRegionsFile(const std::string& path);

// The JSON of a set, in the shape above, regions in order; parseRegions() reads it back
// to an equal set.
std::string regionsJson(const RegionSet& set);

// Writes regionsJson() through the engine's output path: whole or not at all.
void writeRegionsFile(const std::string& path, const RegionSet& set);

// What parseRegions() would refuse in a set made in memory (as the viewer makes one),
// in the same words with an empty path; nothing when the set is good.
std::optional<std::string> regionsProblem(const RegionSet& set);

// A region's pixels of one row: x1 .. x2 inclusive on row y.
struct PixelRun {
    std::int64_t y, x1, x2;
    friend bool operator==(const PixelRun&, const PixelRun&) = default;
};

// The functions below place a region by its own coordinates: for a region anchored to a
// tag, or a plot of a set anchored to field tags, use them on the set that
// registerRegions() (Markers.h) makes for a frame.

// The region's pixels as runs, by rows from the top and left to right within a row, no
// two overlapping. May be empty only for a polygon that holds no pixel centre.
std::vector<PixelRun> regionRuns(const Region& region);

// The smallest rectangle that holds every pixel of the region; nothing when it holds
// none.
std::optional<Rectangle> regionBounds(const Region& region);

// True when every pixel of the region lies inside a picture of this size.
bool regionInside(const Region& region, std::int64_t width, std::int64_t height);

}  // namespace engine
