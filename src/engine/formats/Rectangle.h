#pragma once
// A rectangle of a picture, in its pixels: the panels, the regions, the crop's source.

#include <cstdint>

namespace engine {

struct Rectangle {
    std::int64_t x1, y1, x2, y2;  // image coordinates, y from the top, corners inclusive
};

// Fits a rectangle already known to be upright (y1 <= y2, x1 <= x2 as typed) to the
// picture, each step seeing the ones before: negative starts become 0, ends past the
// picture its last column or row, and an end left below its start widens to the last
// column or row. A rectangle wholly left of the picture so covers every column;
// one wholly right of it covers none.
constexpr Rectangle clampToPicture(Rectangle r, std::int64_t width, std::int64_t height) noexcept
{
    if (r.x1 < 0) r.x1 = 0;
    if (r.y1 < 0) r.y1 = 0;
    if (r.x2 >= width) r.x2 = width - 1;
    if (r.y2 >= height) r.y2 = height - 1;
    if (r.x1 > r.x2) r.x2 = width - 1;
    if (r.y1 > r.y2) r.y2 = height - 1;
    return r;
}

}  // namespace engine
