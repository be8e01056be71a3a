#pragma once
// The NDVI raster: every pixel of a false-colour bitmap (near-infrared in the red
// byte, visible red in the green byte) becomes one float32 NDVI value, both bands
// first scaled by the white reference panel's values. The output is headerless
// little-endian float32, top image row first, rows contiguous.
//
// Per pixel: red = g / redWhite and nir = r / nirWhite, each rounded to float32 and
// capped at 1.0 from above only; then (nir - red) / (nir + red) in x87 extended
// precision, rounded once to float32; -10.0 where nir + red is 0. A white value of 0
// makes the first division a floating-point error: EInvalidOp when the byte is 0 too,
// EZeroDivide otherwise.

#include "bitmap/Services.h"

#include <cstdint>
#include <vector>

namespace bitmap {

inline constexpr float kNdviMarker = -10.0f;

// The plain per-pixel formula; the reference every faster path must match bit for bit.
float ndviPixel(std::uint8_t nirByte, std::uint8_t redByte, float nirWhite, float redWhite);

// Every (NIR byte, red byte) pair computed once by ndviPixel, for one pair of white
// values. Needs both white values non-zero.
class NdviTable {
public:
    NdviTable(float nirWhite, float redWhite);
    float operator()(std::uint8_t nirByte, std::uint8_t redByte) const noexcept
    {
        return values_[static_cast<std::size_t>(nirByte) << 8 | redByte];
    }

private:
    std::vector<float> values_;
};

// Button3: asks for the bitmap and the raw file, reads Edit5 (NIR white) and Edit6
// (red white), writes the raster.
void makeNdviRaster(Services& services);

}  // namespace bitmap
