#pragma once
// A season's table worked out for the tests from its definitions alone, pixel by pixel:
// nothing here calls the engine's regions or season code, so a fault in its scanlines,
// its counts or its order statistics cannot hide in the expected values.

#include "BmpFixture.h"
#include "NdviOracle.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A point given in quarters of a pixel: x = qx / 4. Every coordinate the tests use is
// a multiple of 0.25, so the membership test below is exact integer arithmetic.
struct QuarterPoint {
    std::int64_t qx, qy;
};

// Whether the centre of pixel (x, y) lies inside the polygon by the even-odd rule: a
// ray from the centre to the right crosses an odd number of edges, an edge counting
// when one end lies above the centre's line and the other at or below it.
inline bool centreInPolygon(std::int64_t x, std::int64_t y, const std::vector<QuarterPoint>& polygon)
{
    const std::int64_t px = 4 * x + 2;
    const std::int64_t py = 4 * y + 2;
    bool inside = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const QuarterPoint a = polygon[j];
        const QuarterPoint b = polygon[i];
        if ((a.qy > py) == (b.qy > py)) continue;
        // px < a.x + (py - a.y) (b.x - a.x) / (b.y - a.y), multiplied out by b.y - a.y.
        const std::int64_t lhs = (px - a.qx) * (b.qy - a.qy);
        const std::int64_t rhs = (py - a.qy) * (b.qx - a.qx);
        if (b.qy > a.qy ? lhs < rhs : lhs > rhs) inside = !inside;
    }
    return inside;
}

// A plot, panel or dark target as the tests describe it: a rectangle with its corners
// included, or a polygon.
struct OracleRegion {
    std::string name;
    std::int64_t x1 = 0, y1 = 0, x2 = -1, y2 = -1;  // the rectangle, when polygon is empty
    std::vector<QuarterPoint> polygon;

    bool holds(std::int64_t x, std::int64_t y) const
    {
        if (!polygon.empty()) return centreInPolygon(x, y, polygon);
        return x1 <= x && x <= x2 && y1 <= y && y <= y2;
    }
};

// The pixels of a region inside a width x height picture, row by row from the top.
inline std::vector<Pixel> pixelsOf(const OracleRegion& region, const Picture& picture)
{
    std::vector<Pixel> pixels;
    for (std::int64_t y = 0; y < picture.height; ++y) {
        for (std::int64_t x = 0; x < picture.width; ++x) {
            if (region.holds(x, y)) pixels.push_back(picture.at(static_cast<int>(x), static_cast<int>(y)));
        }
    }
    return pixels;
}

}  // namespace testing_support
