#pragma once
// What each operation must leave for a picture, worked out from its pixels: the crop's
// file, the NDVI raster and the area maxima of the whole picture. Pair with decodeBmp
// to get what a damaged file must give, its missing bytes read as zero.

#include "BmpFixture.h"
#include "bitmap/Crop2048.h"
#include "bitmap/NdviRaster.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

// The crop's file: its header, then columns 0..2047 of every row, bottom row first,
// black where the picture is narrower.
inline std::vector<std::uint8_t> expectedCrop(const Picture& p)
{
    const auto header = bitmap::cropHeader(p.height);
    std::vector<std::uint8_t> out(header.begin(), header.end());
    for (std::int64_t y = std::int64_t{p.height} - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(6144, 0);
        for (int x = 0; x < std::min(p.width, 2048); ++x) {
            const Pixel px = p.at(x, static_cast<int>(y));
            row[3 * x] = px.b;
            row[3 * x + 1] = px.g;
            row[3 * x + 2] = px.r;
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// The NDVI raster: one float32 per pixel from the plain formula, top row first.
inline std::vector<std::uint8_t> expectedNdvi(const Picture& p, float nirWhite = 255, float redWhite = 255)
{
    std::vector<std::uint8_t> out;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const float v = bitmap::ndviPixel(p.at(x, y).r, p.at(x, y).g, nirWhite, redWhite);
            std::uint8_t bytes[4];
            std::memcpy(bytes, &v, 4);
            out.insert(out.end(), bytes, bytes + 4);
        }
    }
    return out;
}

// The area maxima of the whole picture as the three labels show them: red, green, blue.
inline std::vector<std::string> expectedMaxima(const Picture& p)
{
    int r = 0, g = 0, b = 0;
    for (const Pixel& px : p.pixels) {
        r = std::max<int>(r, px.r);
        g = std::max<int>(g, px.g);
        b = std::max<int>(b, px.b);
    }
    return {std::to_string(r), std::to_string(g), std::to_string(b)};
}

}  // namespace testing_support
