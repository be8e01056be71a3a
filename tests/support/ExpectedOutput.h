#pragma once
// What each operation must leave for a picture, worked out from its pixels alone and
// written apart from the code under test: the crop's file, the NDVI raster and the
// area maxima.

#include "BmpFixture.h"

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

// NDVI of one pixel for non-zero white values: each band over its white value in
// extended precision, rounded to float32 and capped at 1; the normalised difference
// in extended precision rounded once to float32; -10 where the bands add up to 0.
inline float oracleNdvi(std::uint8_t nirByte, std::uint8_t redByte, float nirWhite, float redWhite)
{
    float nir = static_cast<float>(static_cast<long double>(nirByte) / nirWhite);
    float red = static_cast<float>(static_cast<long double>(redByte) / redWhite);
    nir = std::min(nir, 1.0f);
    red = std::min(red, 1.0f);
    const long double sum = static_cast<long double>(nir) + red;
    if (sum == 0) return -10.0f;
    return static_cast<float>((static_cast<long double>(nir) - red) / sum);
}

// The NDVI raster: one little-endian float32 per pixel, top row first.
inline std::vector<std::uint8_t> expectedNdvi(const Picture& p, float nirWhite = 255, float redWhite = 255)
{
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(p.width) * p.height * 4);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const float v = oracleNdvi(p.at(x, y).r, p.at(x, y).g, nirWhite, redWhite);
            std::uint8_t bytes[4];
            std::memcpy(bytes, &v, 4);
            out.insert(out.end(), bytes, bytes + 4);
        }
    }
    return out;
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

namespace testing_support {

// One band's reflectance under the empirical line, written out as it reads:
// rDark + (DN - dnDark) * (rWhite - rDark) / (dnWhite - dnDark) in extended
// precision, rounded to float32 and limited to 0..1; the plain ratio (capped at 1
// only) for the default targets.
inline float oracleReflectance(std::uint8_t dn, float dnWhite, float rWhite, float dnDark, float rDark)
{
    if (rWhite == 1 && dnDark == 0 && rDark == 0) {
        return std::min(static_cast<float>(static_cast<long double>(dn) / dnWhite), 1.0f);
    }
    const long double numerator = (static_cast<long double>(dn) - dnDark) * (static_cast<long double>(rWhite) - rDark);
    const auto r = static_cast<float>(rDark + numerator / (static_cast<long double>(dnWhite) - dnDark));
    return std::clamp(r, 0.0f, 1.0f);
}

}  // namespace testing_support
