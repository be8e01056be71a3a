#pragma once
// Area channel maxima: the largest red, green and blue byte values inside a rectangle
// of a 24-bit bitmap, shown in the window's result labels.

#include "bitmap/Services.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace bitmap {

struct Rectangle {
    std::int64_t x1, y1, x2, y2;  // image coordinates, y from the top, corners inclusive
};

// Fits a rectangle already known to be upright (y1 <= y2, x1 <= x2 as typed) to the
// picture, each step seeing the ones before: negative starts become 0, ends past the
// picture its last column or row, and an end left below its start widens to the last
// column or row. A rectangle wholly left of the picture so covers every column;
// one wholly right of it covers none.
Rectangle clampToPicture(Rectangle r, std::int64_t width, std::int64_t height) noexcept;

// The largest blue, green and red bytes seen so far, each starting at 0.
class ChannelMaxima {
public:
    // Takes in count pixels of 3 bytes each (blue, green, red) from pixels.
    void scan(const std::uint8_t* pixels, std::size_t count) noexcept;
    int blue() const noexcept { return max_[0]; }
    int green() const noexcept { return max_[1]; }
    int red() const noexcept { return max_[2]; }

private:
    std::array<std::uint8_t, 3> max_{};
};

// Button2: reads Edit1..Edit4 (x1, y1, x2, y2) and shows red, green and blue maxima
// in Label8, Label9, Label10 once "完了" is dismissed.
void findAreaMaxima(Services& services);

}  // namespace bitmap
