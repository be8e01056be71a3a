#include "batch/NdviPreview.h"

#include "engine/Kernels.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <algorithm>

namespace batch {

namespace {

constexpr Rgba kRdYlGn[] = {
    {165, 0, 38, 255},   {215, 48, 39, 255},  {244, 109, 67, 255}, {253, 174, 97, 255},
    {254, 224, 139, 255}, {255, 255, 191, 255}, {217, 239, 139, 255}, {166, 217, 106, 255},
    {102, 189, 99, 255},  {26, 152, 80, 255},  {0, 104, 55, 255},
};
constexpr int kSteps = static_cast<int>(std::size(kRdYlGn)) - 1;
constexpr int kHalfRamp = 127;           // palette entries per unit of NDVI
constexpr int kTransparentIndex = 255;   // the marker's entry

std::uint8_t mix(std::uint8_t from, std::uint8_t to, double f)
{
    return static_cast<std::uint8_t>(from + (to - from) * f + 0.5);  // never negative
}

QRgb toQRgb(Rgba c)
{
    return qRgba(c.r, c.g, c.b, c.a);
}

}  // namespace

Rgba ndviColour(float value) noexcept
{
    if (value == engine::kNdviMarker) return {0, 0, 0, 0};
    const double t = (std::clamp(static_cast<double>(value), -1.0, 1.0) + 1.0) / 2.0 * kSteps;
    const int i = std::min(static_cast<int>(t), kSteps - 1);
    const double f = t - i;
    const Rgba a = kRdYlGn[i];
    const Rgba b = kRdYlGn[i + 1];
    return {mix(a.r, b.r, f), mix(a.g, b.g, f), mix(a.b, b.b, f), 255};
}

std::uint8_t paletteIndex(float value) noexcept
{
    if (value == engine::kNdviMarker) return kTransparentIndex;
    const double position = (std::clamp(static_cast<double>(value), -1.0, 1.0) + 1.0) * kHalfRamp;
    return static_cast<std::uint8_t>(position + 0.5);
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
    for (int k = 0; k < kTransparentIndex; ++k) palette.append(toQRgb(ndviColour(static_cast<float>(k - kHalfRamp) / kHalfRamp)));
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
