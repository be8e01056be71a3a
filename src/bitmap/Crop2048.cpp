#include "bitmap/Crop2048.h"

#include "bitmap/OperationSteps.h"

#include <algorithm>
#include <vector>

namespace bitmap {

std::array<std::uint8_t, 54> cropHeader(std::int32_t height) noexcept
{
    // Sizes are taken modulo 2^32, as the 32-bit fields hold them.
    const auto imageBytes = static_cast<std::uint32_t>(kCropRowBytes * height);
    std::array<std::uint8_t, 54> h{};
    h[0] = 'B';
    h[1] = 'M';
    storeLE32(&h[2], imageBytes + 54u);  // bfSize
    storeLE32(&h[10], 54);                // bfOffBits
    storeLE32(&h[14], 40);                // biSize
    storeLE32(&h[18], kCropWidth);        // biWidth
    storeLE32(&h[22], static_cast<std::uint32_t>(height));
    storeLE16(&h[26], 1);                 // biPlanes
    storeLE16(&h[28], 24);                // biBitCount
    storeLE32(&h[34], imageBytes);        // biSizeImage
    return h;
}

void cropTo2048(Services& services)
{
    const auto inputPath = services.chooseFile(FileDialog::Open, {"切り出し対象カラ―画像ファイル", kBmpFilter, ".bmp"});
    if (!inputPath) return;
    auto input = openInput(services, *inputPath);
    if (!input) return;

    const auto outputPath = services.chooseFile(FileDialog::Save, {"保存先ファイル名を指定する", kBmpFilter, ".bmp"});
    if (!outputPath) return;

    const auto image = probeAndGate(services, *input, "24ビットカラ―画像を指定してください");
    if (!image) return;

    auto output = createOutput(services, *input, *outputPath);
    if (!output) return;
    const auto header = cropHeader(image->height);
    output->writeAt(0, header.data(), header.size());

    ProgressModel& bar = services.progressBar();
    bar.setMin(0);
    bar.setMax(image->height);
    bar.setPosition(0);
    bar.setStep(1);

    // At least one output row long and zero beyond the input's row, so a narrower
    // picture comes out with black columns on the right.
    const auto stride = static_cast<std::size_t>(image->rowStride);
    std::vector<std::uint8_t> row(std::max<std::size_t>(stride, kCropRowBytes));
    const auto work = static_cast<std::uint32_t>(image->width);
    for (std::int64_t k = 0; k < image->height; ++k) {
        input->readAt(kPixelDataOffset + k * image->rowStride, row.data(), stride);
        output->writeAt(kPixelDataOffset + k * kCropRowBytes, row.data(), kCropRowBytes);
        services.pumpEvents(work);
        bar.stepIt();
    }
    const bool written = output->close();

    reportCompletion(services, written, *outputPath);
    bar.setPosition(0);
    input->close();
}

}  // namespace bitmap

