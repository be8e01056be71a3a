#pragma once
// Crop to 2048 columns: a new 24-bit bitmap exactly 2048 pixels wide holding the
// leftmost 2048 columns of every row, as many rows as the input has.

#include "bitmap/Services.h"

#include <array>
#include <cstdint>

namespace bitmap {

inline constexpr std::int32_t kCropWidth = 2048;
inline constexpr std::int64_t kCropRowBytes = 6144;  // rowStride(2048)

// The output's 54-byte file and info header for a picture of this height.
std::array<std::uint8_t, 54> cropHeader(std::int32_t height) noexcept;

// Button1: asks for the bitmap and the output name, writes the cropped bitmap.
// Columns missing from a narrower input are black.
void cropTo2048(Services& services);

}  // namespace bitmap
