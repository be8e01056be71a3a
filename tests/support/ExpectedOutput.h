#pragma once
// What each operation must leave for a picture, worked out from its pixels alone and
// written apart from the code under test: the crop's file, the NDVI raster and the
// area maxima.

#include "BmpFixture.h"
#include "NdviOracle.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

// The crop's 54-byte header for a picture of this many rows: 2048 columns, 24 bits.
inline std::vector<std::uint8_t> expectedCropHeader(std::int32_t rows)
{
    std::vector<std::uint8_t> h(54, 0);
    const auto image = static_cast<std::uint32_t>(6144u * static_cast<std::uint32_t>(rows));
    h[0] = 'B';
    h[1] = 'M';
    put32(h, 2, image + 54);
    put32(h, 10, 54);
    put32(h, 14, 40);
    put32(h, 18, 2048);
    put32(h, 22, static_cast<std::uint32_t>(rows));
    put16(h, 26, 1);
    put16(h, 28, 24);
    put32(h, 34, image);
    return h;
}

// The crop's file: its header, then columns 0..2047 of every row, bottom row first,
// black where the picture is narrower.
inline std::vector<std::uint8_t> expectedCrop(const Picture& p)
{
    std::vector<std::uint8_t> out = expectedCropHeader(p.height);
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

// The NDVI raster: one little-endian float32 per pixel, top row first.
inline std::vector<std::uint8_t> expectedNdvi(const Picture& p, const NdviTargets& targets)
{
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(p.width) * p.height * 4);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const float v = oracleNdvi(p.at(x, y).r, p.at(x, y).g, targets);
            std::uint8_t bytes[4];
            std::memcpy(bytes, &v, 4);
            out.insert(out.end(), bytes, bytes + 4);
        }
    }
    return out;
}

inline std::vector<std::uint8_t> expectedNdvi(const Picture& p, float nirWhite = 255, float redWhite = 255)
{
    return expectedNdvi(p, whites(nirWhite, redWhite));
}

// The largest red, green and blue of the pixels x1..x2, y1..y2 (inclusive, already
// inside the picture) as the three labels show them: red, green, blue.
inline std::vector<std::string> expectedMaxima(const Picture& p, int x1, int y1, int x2, int y2)
{
    int r = 0, g = 0, b = 0;
    for (int y = y1; y <= y2; ++y) {
        for (int x = x1; x <= x2; ++x) {
            r = std::max<int>(r, p.at(x, y).r);
            g = std::max<int>(g, p.at(x, y).g);
            b = std::max<int>(b, p.at(x, y).b);
        }
    }
    return {std::to_string(r), std::to_string(g), std::to_string(b)};
}

// The area maxima of the whole picture.
inline std::vector<std::string> expectedMaxima(const Picture& p)
{
    return expectedMaxima(p, 0, 0, p.width - 1, p.height - 1);
}

}  // namespace testing_support
