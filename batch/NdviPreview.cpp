#include "batch/NdviPreview.h"

#include "engine/Kernels.h"
#include "engine/NdviColours.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <algorithm>

namespace batch {

namespace {

constexpr int kTransparentIndex = engine::kRampEntries;  // the marker's entry, after the ramp's

}  // namespace

std::uint8_t paletteIndex(float value) noexcept
{
    if (value == engine::kNdviMarker) return kTransparentIndex;
    return static_cast<std::uint8_t>(engine::rampIndex(value, -1.0f, 1.0f));
}

int colourBarHeight(int pictureHeight) noexcept
{
    return std::clamp(pictureHeight / 20, 4, 32);
}

NdviPreview::NdviPreview(int width, int height) : width_(width)
{
    const int bar = colourBarHeight(height);
    auto image = std::make_unique<QImage>(width, height + kColourBarGap + bar, QImage::Format_Indexed8);
    if (image->isNull()) return;
    QList<QRgb> palette;
    for (const engine::Rgb& c : engine::redYellowGreenRamp()) palette.append(qRgb(c.r, c.g, c.b));
    palette.append(qRgba(0, 0, 0, 0));
    image->setColorTable(palette);
    image->fill(kTransparentIndex);
    for (int x = 0; x < width; ++x) {
        const float value = width > 1 ? -1.0f + 2.0f * static_cast<float>(x) / static_cast<float>(width - 1) : 0.0f;
        for (int y = height + kColourBarGap; y < image->height(); ++y) image->scanLine(y)[x] = paletteIndex(value);
    }
    image_ = std::move(image);
}

NdviPreview::~NdviPreview() = default;

bool NdviPreview::valid() const noexcept
{
    return image_ != nullptr;
}

void NdviPreview::setRow(int y, const float* values) noexcept
{
    std::uint8_t* line = image_->scanLine(y);
    for (int x = 0; x < width_; ++x) line[x] = paletteIndex(values[x]);
}

bool NdviPreview::encode(std::vector<std::uint8_t>& png) const
{
    if (!image_) return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly)) return false;
    QImageWriter writer(&buffer, "png");
    // Qt turns quality 80 into zlib level 1: a preview is looked at, not archived,
    // and the stronger levels take several times as long for a few percent.
    writer.setQuality(80);
    if (!writer.write(*image_)) return false;
    png.assign(bytes.begin(), bytes.end());
    return true;
}

}  // namespace batch
