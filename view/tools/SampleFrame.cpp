#include "SampleFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace view {

namespace {

// A repeatable value in 0..1 for a pixel and a channel.
double noise(std::uint32_t x, std::uint32_t y, std::uint32_t k)
{
    std::uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ k * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return (h & 0xFFFFFF) / double(0xFFFFFF);
}

std::uint8_t byte(double v)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

struct Bands {
    double nir, red, blue;
};

Bands scene(int x, int y, int w, int h)
{
    const double u = double(x) / w;
    const double v = double(y) / h;
    const double n1 = noise(x, y, 1) - 0.5;
    const double n2 = noise(x, y, 2) - 0.5;

    // Dark lens corners: no light at all in the very corners.
    const double dx = u - 0.5, dy = (v - 0.5) * h / w;
    const double r = std::sqrt(dx * dx + dy * dy);
    if (r > 0.605) return {0, 0, 0};
    const double vignette = r > 0.50 ? 1.0 - (r - 0.50) / 0.105 : 1.0;

    const engine::Rectangle panel = samplePanel(w, h);
    const engine::Rectangle dark = sampleDarkTarget(w, h);
    const int rim = std::max(2, w / 200);
    // One holder around both targets.
    if (x >= panel.x1 - rim && x <= dark.x2 + rim && y >= panel.y1 - rim && y <= panel.y2 + rim) {
        if (x >= panel.x1 && x <= panel.x2 && y >= panel.y1 && y <= panel.y2) {
            // A few glints reach 255.
            if (noise(x, y, 7) > 0.9985) return {255, 255, 255};
            return {243 + 4 * n1, 238 + 4 * n2, 241 + 3 * n1};
        }
        if (x >= dark.x1 && x <= dark.x2 && y >= dark.y1 && y <= dark.y2) return {19 + 4 * n1, 17 + 4 * n2, 18 + 3 * n1};
        return {62 + 6 * n1, 58 + 6 * n2, 64};
    }

    // Two fields either side of a farm track: rows running down on the left, across on
    // the right, the canopy thinner in places.
    const double trackCentre = 0.40 + 0.06 * std::sin(v * 3.0);
    const bool left = u < trackCentre;
    const double across = left ? (u + 0.05 * v) * 70.0 : (v - 0.03 * u) * 46.0;
    const double inRow = 0.5 + 0.5 * std::cos(across * 2.0 * M_PI);
    const double density = 0.30 + 0.18 * std::sin(u * 7.0 + 1.0) * std::sin(v * 5.0 + 2.0) + (left ? 0.0 : 0.08);
    const double canopy = std::clamp((inRow - (1.0 - density) * 0.8) * 2.4 + 0.35 * n1, 0.0, 1.0);
    Bands soil{112 + 14 * n1, 92 + 10 * n2, 74 + 8 * n1};
    Bands leaf{196 + 22 * n1 + 10 * std::sin(v * 9.0), 44 + 9 * n2, 58 + 8 * n2};
    // A stressed patch on the right: less NIR, more red.
    const double px = (u - 0.72) / 0.12, py = (v - 0.62) / 0.16;
    const double stress = std::clamp(1.3 - std::sqrt(px * px + py * py), 0.0, 1.0);
    leaf.nir -= 70 * stress;
    leaf.red += 38 * stress;
    Bands b{soil.nir + (leaf.nir - soil.nir) * canopy, soil.red + (leaf.red - soil.red) * canopy,
            soil.blue + (leaf.blue - soil.blue) * canopy};

    if (std::abs(u - trackCentre) < 0.016) b = {146 + 8 * n1, 134 + 8 * n2, 120 + 6 * n1};
    // A grass margin along the top and a row of tree crowns in it.
    if (v < 0.08) b = {170 + 16 * n1, 70 + 10 * n2, 66 + 6 * n1};
    for (int t = 0; t < 7; ++t) {
        const double tx = (u - (0.30 + 0.1 * t + 0.02 * std::sin(t * 3.0))) * w, ty = (v - 0.045) * h;
        const double radius = 0.022 * w * (0.8 + 0.3 * std::sin(t * 1.7));
        const double d = std::sqrt(tx * tx + ty * ty) / radius;
        if (d < 1.0) b = {225 - 60 * d * d + 12 * n1, 30 + 8 * d + 5 * n2, 48 + 6 * n1};
    }
    // A pond at the lower left: water reflects little NIR.
    const double wx = (u - 0.20) / 0.11, wy = (v - 0.78) / 0.09;
    if (wx * wx + wy * wy < 1.0) b = {26 + 5 * n1, 44 + 5 * n2, 62 + 5 * n1};

    return {b.nir * vignette, b.red * vignette, b.blue * vignette};
}

void put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

engine::Rectangle samplePanel(int width, int height)
{
    const int x1 = width * 12 / 100;
    const int y1 = height * 14 / 100;
    const int side = std::max(4, width * 6 / 100);
    return {x1, y1, x1 + side - 1, y1 + side * 3 / 4 - 1};
}

engine::Rectangle sampleDarkTarget(int width, int height)
{
    const engine::Rectangle panel = samplePanel(width, height);
    const std::int64_t gap = std::max<std::int64_t>(2, (panel.x2 - panel.x1 + 1) / 4);
    return {panel.x2 + 1 + gap, panel.y1, panel.x2 + gap + (panel.x2 - panel.x1 + 1), panel.y2};
}

bool writeSampleFrame(const std::string& path, int width, int height)
{
    const std::int64_t stride = (std::int64_t{width} * 3 + 3) / 4 * 4;
    std::uint8_t header[54] = {'B', 'M'};
    put32(header + 2, static_cast<std::uint32_t>(54 + stride * height));
    put32(header + 10, 54);
    put32(header + 14, 40);
    put32(header + 18, static_cast<std::uint32_t>(width));
    put32(header + 22, static_cast<std::uint32_t>(height));
    header[26] = 1;
    header[28] = 24;
    put32(header + 34, static_cast<std::uint32_t>(stride * height));
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(stride), 0);
    for (int y = height - 1; y >= 0 && ok; --y) {  // bottom row first
        for (int x = 0; x < width; ++x) {
            const Bands b = scene(x, y, width, height);
            // The camera: blue byte, visible red in the green byte, NIR in the red byte.
            row[3 * x] = byte(b.blue);
            row[3 * x + 1] = byte(b.red);
            row[3 * x + 2] = byte(b.nir);
        }
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    return std::fclose(f) == 0 && ok;
}

}  // namespace view
