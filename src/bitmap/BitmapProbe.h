#pragma once
// How every operation reads its 24-bit bitmap: three header values, a bit-depth gate,
// and one stored row at a time. Pixel data is taken to start at byte 54, rows are
// stored bottom-up, each pixel is blue, green, red.

#include <cstdint>

namespace bitmap {

class InputFile;

inline constexpr std::int64_t kPixelDataOffset = 54;

// The widest picture any operation takes. Row buffers are sized from the header, so
// this only bounds what one row may allocate (a few megabytes).
inline constexpr std::int32_t kMaxWidth = 1'000'000;

// Bytes per stored row: width * 3 rounded up to a multiple of 4, computed with the
// truncating remainder of a signed division (so width -1 gives 4, -2 gives 0, -3
// gives -4). Widened to 64 bits so that no header value overflows.
constexpr std::int64_t rowStride(std::int64_t width) noexcept
{
    std::int64_t s = width * 3;
    const std::int64_t r = s % 4;
    if (r != 0) s = s - r + 4;
    return s;
}

// File offset of image row y counted from the top.
constexpr std::int64_t imageRowOffset(std::int64_t height, std::int64_t stride, std::int64_t y) noexcept
{
    return (height - 1 - y) * stride + kPixelDataOffset;
}

struct BitmapProbe {
    std::int32_t width = 0;     // biWidth, offset 18
    std::int32_t height = 0;    // biHeight, offset 22
    std::uint16_t bitCount = 0; // biBitCount, offset 28
    std::int64_t rowStride = 0;
};

// Reads width and height in one read of two 4-byte items at offset 18 and the bit
// count at offset 28; whatever the file does not have reads as zero.
BitmapProbe probe(InputFile& input);

enum class Gate {
    Proceed,      // 24 bits per pixel and a usable width
    EightBit,     // the operation asks for a 24-bit picture and ends the process
    Unsupported,  // any other depth, or no pixels per row: silent end
    TooWide,      // wider than kMaxWidth
};

Gate gate(const BitmapProbe& probe) noexcept;

}  // namespace bitmap
