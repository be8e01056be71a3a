#include "bitmap/BitmapProbe.h"

#include "bitmap/Files.h"

namespace bitmap {

BitmapProbe probe(InputFile& input)
{
    std::uint8_t size[8];
    input.readAt(18, size, sizeof size);
    std::uint8_t depth[2];
    input.readAt(28, depth, sizeof depth);

    BitmapProbe p;
    p.width = static_cast<std::int32_t>(loadLE32(size));
    p.height = static_cast<std::int32_t>(loadLE32(size + 4));
    p.bitCount = static_cast<std::uint16_t>(depth[0] | depth[1] << 8);
    p.rowStride = rowStride(p.width);
    return p;
}

Gate gate(const BitmapProbe& probe) noexcept
{
    if (probe.bitCount == 8) return Gate::EightBit;
    if (probe.bitCount != 24 || probe.width <= 0) return Gate::Unsupported;
    if (probe.width > kMaxWidth) return Gate::TooWide;
    return Gate::Proceed;
}

}  // namespace bitmap
