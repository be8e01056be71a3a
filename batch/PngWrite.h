#pragma once
// Plain grey or RGB pictures encoded as PNG in memory, for the overlays and the tag
// sheet, which are then written whole through the engine's output path.

#include <cstdint>
#include <vector>

namespace batch {

// A picture of width x height pixels of `channels` bytes (1 grey, 3 red-green-blue),
// rows from the top.
struct RasterImage {
    int width = 0, height = 0, channels = 3;
    std::vector<std::uint8_t> pixels;
    RasterImage() = default;
    RasterImage(int w, int h, int c, std::uint8_t fill)
        : width(w), height(h), channels(c),
          pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * static_cast<std::size_t>(c), fill)
    {
    }
    std::uint8_t* at(int x, int y)
    {
        return pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * channels;
    }
};

// The PNG file of the picture; dotsPerInch, when above 0, is recorded so that it prints
// at its size. Nothing (an empty vector) when libpng could not encode it.
std::vector<std::uint8_t> encodePng(const RasterImage& image, int dotsPerInch = 0);

}  // namespace batch
