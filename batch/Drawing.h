#pragma once
// Lines, boxes and text of a small built-in 5x7 bitmap font, on the pictures the batch
// writes as PNG: enough to label an overlay or a sheet without a font library.

#include "batch/PngWrite.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace batch {

using Colour = std::array<std::uint8_t, 3>;  // red, green, blue; a grey picture takes red

// The font's cell: 5 x 7 pixels of glyph and one column and one row of space.
inline constexpr int kGlyphWidth = 5, kGlyphHeight = 7, kGlyphAdvance = 6;

// Width in pixels of text drawn at this scale: one glyph a byte, so a character past
// ASCII (each byte of its UTF-8) reads as one '?' per character.
int textWidth(std::string_view text, int scale) noexcept;

// Draws text with its top-left corner at (x, y), each font pixel scale x scale; what
// falls outside the picture is left out.
void drawText(RasterImage& image, int x, int y, std::string_view text, int scale, const Colour& colour);

void fillBox(RasterImage& image, int x1, int y1, int x2, int y2, const Colour& colour);  // corners included

// A line from (x0, y0) to (x1, y1) in pixel units, thickness pixels wide.
void drawLine(RasterImage& image, double x0, double y0, double x1, double y1, int thickness, const Colour& colour);

}  // namespace batch
