#pragma once
// The header values every operation reads from a bitmap, and the row layout they
// imply: pixels blue, green, red; rows padded to 4 bytes; stored bottom-up, or
// top-down when the height is negative; pixel data where bfOffBits says.

#include <cstdint>

namespace engine {

// The file header and the 40-byte info header.
inline constexpr std::int64_t kHeadersSize = 54;

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

struct BitmapProbe {
    std::int32_t width = 0;       // biWidth, offset 18
    std::int32_t height = 0;      // biHeight, offset 22; negative: rows stored top-down
    std::uint16_t bitCount = 0;   // biBitCount, offset 28
    std::int64_t rowStride = 0;
    std::uint32_t pixelOffset = 0;  // bfOffBits, offset 10
    std::uint32_t infoSize = 0;     // biSize, offset 14
    std::uint32_t compression = 0;  // biCompression, offset 30
    std::int64_t fileSize = 0;
    bool signature = false;         // bfType is "BM", offset 0

    bool topDown() const noexcept { return height < 0; }
    // Rows in the picture, whichever way they are stored.
    std::int64_t rows() const noexcept { return height < 0 ? -std::int64_t{height} : height; }
};

}  // namespace engine
