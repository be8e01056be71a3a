#include "view/exports/NdviRows.h"

#include <algorithm>
#include <memory>

namespace view {

void forEachNdviBlock(const LoadedPicture& picture, const engine::NdviTable& table,
                      const std::function<void(std::int64_t, std::int64_t, const float*)>& rows,
                      const float* corrected)
{
    const std::int64_t width = picture.width();
    const std::int64_t height = picture.height();
    if (width <= 0 || height <= 0) return;
    // About a mebibyte a block: few writes, and little memory beside the picture.
    constexpr std::int64_t kBlockBytes = std::int64_t{1} << 20;
    const std::int64_t perBlock = std::clamp<std::int64_t>(kBlockBytes / (width * 4), 1, height);
    const auto values =
        std::make_unique_for_overwrite<float[]>(corrected ? 0 : static_cast<std::size_t>(perBlock * width));
    for (std::int64_t first = 0; first < height; first += perBlock) {
        const std::int64_t count = std::min(perBlock, height - first);
        if (corrected) {
            rows(first, count, corrected + first * width);
            continue;
        }
        for (std::int64_t i = 0; i < count; ++i) {
            table.row(picture.row(first + i), static_cast<std::size_t>(width), values.get() + i * width);
        }
        rows(first, count, values.get());
    }
}

}  // namespace view
