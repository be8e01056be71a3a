#pragma once
// A colour picture of an NDVI raster: a diverging red-yellow-green map over -1..+1
// (values beyond are shown as the ends), the -10 marker transparent, and below the
// picture, after a transparent gap, a colour bar running from -1 at the left edge to
// +1 at the right edge. Written as an 8-bit palette PNG: 255 colours of the map in
// steps of 1/127 and one transparent entry, a quarter of the data an RGBA picture
// would have to filter and compress.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace batch {

// The palette entry of a value: the engine's red-yellow-green ramp over -1..+1, 0 for
// -1 (and below), 127 for 0, 254 for +1 (and above), the nearest in between; 255,
// transparent, for the marker.
std::uint8_t paletteIndex(float value) noexcept;

inline constexpr int kColourBarGap = 2;

// Height of the colour bar under a picture of this height: a twentieth of it, at
// least 4 and at most 32 rows.
int colourBarHeight(int pictureHeight) noexcept;

class NdviPreview {
public:
    NdviPreview(int width, int height);
    NdviPreview(const NdviPreview&) = delete;
    NdviPreview& operator=(const NdviPreview&) = delete;

    // False when the picture is too large to hold.
    bool valid() const noexcept;
    // Colours image row y (from the top) with width values.
    void setRow(int y, const float* values) noexcept;

    // Receives the PNG's bytes in order, a megabyte of compressed rows at most at a
    // time; false stops the encoding.
    using Sink = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;
    // Encodes the PNG into sink as it goes, so that no copy of the whole file is
    // held; false when it could not be encoded or the sink refused its bytes.
    bool encode(const Sink& sink) const;

private:
    int width_ = 0;
    int rows_ = 0;  // the picture's, the gap's and the colour bar's
    std::vector<std::uint8_t> pixels_;  // palette entries, top row first
};

}  // namespace batch
