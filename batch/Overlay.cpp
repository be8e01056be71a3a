#include "batch/Overlay.h"

#include "batch/Drawing.h"

#include "engine/formats/PictureReader.h"
#include "engine/platform/Platform.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace batch {

namespace {

constexpr int kLine = 2;       // outline width on the overlay
constexpr int kTextScale = 2;  // 10 x 14 pixels a character
const Colour kBlack{0, 0, 0};

Colour colourOf(const std::uint8_t (&c)[3])
{
    return {c[0], c[1], c[2]};
}

// A label on a black box so that it reads on any ground.
void label(RasterImage& image, int x, int y, const std::string& text, const Colour& colour, int scale = kTextScale)
{
    const int w = textWidth(text, scale);
    const int h = kGlyphHeight * scale;
    x = std::clamp(x, 0, std::max(0, image.width - w - 2));
    y = std::clamp(y, 0, std::max(0, image.height - h - 2));
    fillBox(image, x, y, x + w + 1, y + h + 1, kBlack);
    drawText(image, x + 1, y + 1, text, scale, colour);
}

// The region's outline in frame pixels: a rect's outer pixel edges, a polygon's points.
std::vector<engine::Vertex> outlineOf(const engine::Region& region)
{
    if (region.isPolygon()) return region.polygon;
    const auto& r = region.rect;
    const double x1 = r.x1, y1 = r.y1, x2 = static_cast<double>(r.x2) + 1, y2 = static_cast<double>(r.y2) + 1;
    return {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
}

void polygon(RasterImage& image, const std::vector<engine::Vertex>& points, double step, const Colour& colour)
{
    for (std::size_t i = 0; i < points.size(); ++i) {
        const engine::Vertex& a = points[i];
        const engine::Vertex& b = points[(i + 1) % points.size()];
        drawLine(image, a.x / step, a.y / step, b.x / step, b.y / step, kLine, colour);
    }
}

}  // namespace

int overlayStep(std::int64_t width, std::int64_t height) noexcept
{
    const std::int64_t side = std::max<std::int64_t>({width, height, 1});
    return static_cast<int>((side + kOverlaySide - 1) / kOverlaySide);
}

std::vector<std::uint8_t> overlayPng(engine::PictureReader& reader, const engine::RegionSet& placed,
                                     const std::vector<engine::FoundTag>& tags)
{
    const int step = overlayStep(reader.width(), reader.height());
    const int width = static_cast<int>((reader.width() + step - 1) / step);
    const int height = static_cast<int>((reader.height() + step - 1) / step);
    RasterImage image(width, height, 3, 0);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(reader.stride()));
    for (int y = 0; y < height; ++y) {
        reader.readStored(reader.storedIndex(static_cast<std::int64_t>(y) * step), 1, row.data());
        std::uint8_t* out = image.at(0, y);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* px = row.data() + static_cast<std::size_t>(x) * step * 3;  // blue, green, red
            out[3 * x] = px[2];
            out[3 * x + 1] = px[1];
            out[3 * x + 2] = px[0];
        }
    }
    const double s = step;
    for (const engine::Region& region : placed.regions) {
        const Colour colour = colourOf(region.role == engine::RegionRole::White  ? kWhiteColour
                                       : region.role == engine::RegionRole::Dark ? kDarkColour
                                                                                 : kPlotColour);
        const std::vector<engine::Vertex> points = outlineOf(region);
        polygon(image, points, s, colour);
        double left = points.front().x, top = points.front().y;
        for (const auto& p : points) {
            left = std::min(left, p.x);
            top = std::min(top, p.y);
        }
        label(image, static_cast<int>(std::floor(left / s)),
              static_cast<int>(std::floor(top / s)) - kGlyphHeight * kTextScale - 4, region.name, colour);
    }
    for (const engine::FoundTag& tag : tags) {
        polygon(image, {tag.corners.begin(), tag.corners.end()}, s, colourOf(kTagColour));
        const engine::Vertex centre = engine::tagHomography(tag.corners).map({0.5, 0.5});
        const std::string text = std::to_string(tag.id);
        // Larger than the regions' names: it sits on the tag's own black and white.
        constexpr int scale = kTextScale + 1;
        label(image, static_cast<int>(centre.x / s) - textWidth(text, scale) / 2,
              static_cast<int>(centre.y / s) - kGlyphHeight * scale / 2, text, colourOf(kTagColour), scale);
    }
    return encodePng(image);
}

std::string overlayName(const std::string& framePath)
{
    return engine::platform::utf8Of(engine::platform::pathOf(framePath).stem()) + ".png";
}

}  // namespace batch
