#pragma once
// A made-up camera whose lens darkens toward the corners, differently in each band (the
// NIR band's centre a little right of and below the frame's, the Red band's left of
// and above it, the NIR band falling off further), for trying and testing the
// flat-field: frames of an evenly lit white target with noise, a capped-lens dark
// frame, and a scene of plots with known reflectances around a white panel and a dark
// target in the middle. The same seed gives the same bytes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace flat_sample {

// A frame in memory: rows top first, 3 bytes a pixel (blue, green, red), no padding.
struct Frame {
    int width = 0, height = 0;
    std::vector<std::uint8_t> bgr;
    const std::uint8_t* row(std::int64_t y) const { return bgr.data() + static_cast<std::size_t>(y) * width * 3; }
};

struct Camera {
    int width = 400, height = 300;
    float nirOffset = 8, redOffset = 6;  // the sensor's dark level of each band
    double nirLevel = 215, redLevel = 200;  // a white target's light at each band's brightest pixel
    // The true gain of each band at a pixel, 1 at its brightest pixel.
    double nirGain(double x, double y) const;
    double redGain(double x, double y) const;
};

// One frame of a white target lit evenly: offset + level * gain + noise, per band.
Frame flatFrame(const Camera& camera, std::uint64_t seed);
// The lens capped: the offsets and a little noise.
Frame darkFrame(const Camera& camera, std::uint64_t seed);

struct Plot {
    int x1, y1, x2, y2;  // corners included
    double nir, red;     // reflectances
    double ndvi() const { return (nir - red) / (nir + red); }
};

struct Scene {
    Frame frame;
    std::vector<Plot> plots;       // a grid over the whole frame, corners included
    int panel[4], dark[4];         // rectangles x1, y1, x2, y2 in the middle
    double panelReflectance = 0.9, darkReflectance = 0.05;
};

Scene plotScene(const Camera& camera, std::uint64_t seed);

// A 24-bit BMP of the frame, bottom-up.
std::vector<std::uint8_t> encodeBmp(const Frame& frame);
void writeBmp(const std::filesystem::path& path, const Frame& frame);

}  // namespace flat_sample
