#include "bitmap/NdviRaster.h"

#include "bitmap/OperationSteps.h"
#include "runtime/FloatDivision.h"
#include "runtime/IntegerConversion.h"

#include <array>
#include <bit>

static_assert(std::endian::native == std::endian::little, "the raster is written as the machine's floats, which must be little-endian");

namespace bitmap {

namespace {

float reflectance(std::uint8_t byte, float white)
{
    const float value = runtime::divideToFloat(byte, white);
    return value > 1.0f ? 1.0f : value;
}

float ndviOfReflectances(float nir, float red)
{
    // The sum and difference of two floats are exact in extended precision; only the
    // quotient is rounded, once to extended and once to float32, as the results have
    // always been defined.
    const long double sum = static_cast<long double>(nir) + red;
    if (sum == 0.0L) return kNdviMarker;
    return runtime::divideToFloat(static_cast<long double>(nir) - red, sum);
}

}  // namespace

float ndviPixel(std::uint8_t nirByte, std::uint8_t redByte, float nirWhite, float redWhite)
{
    const float red = reflectance(redByte, redWhite);  // red first: its error shows first
    const float nir = reflectance(nirByte, nirWhite);
    return ndviOfReflectances(nir, red);
}

NdviTable::NdviTable(float nirWhite, float redWhite) : values_(std::size_t{1} << 16)
{
    std::array<float, 256> red{};
    std::array<float, 256> nir{};
    for (int b = 0; b < 256; ++b) {
        red[b] = reflectance(static_cast<std::uint8_t>(b), redWhite);
        nir[b] = reflectance(static_cast<std::uint8_t>(b), nirWhite);
    }
    for (int n = 0; n < 256; ++n) {
        for (int r = 0; r < 256; ++r) values_[static_cast<std::size_t>(n) << 8 | r] = ndviOfReflectances(nir[n], red[r]);
    }
}

void makeNdviRaster(Services& services)
{
    const auto inputPath = services.chooseFile(FileDialog::Open, {"対象物フォルスカラ―画像ファイル", kBmpFilter, ".bmp"});
    if (!inputPath) return;
    auto input = openInput(services, *inputPath);
    if (!input) return;

    const auto outputPath =
        services.chooseFile(FileDialog::Save, {"保存先ファイル名（NDVI-RAW）を指定する", "RAWファイル (*.raw) | *.raw", ".raw"});
    if (!outputPath) return;

    const auto image = probeAndGate(services, *input, "24ビットフォルスカラ―画像を指定してください");
    if (!image) return;

    const float nirWhite = static_cast<float>(runtime::strToInt(services.fieldText(Field::Edit5)));
    const float redWhite = static_cast<float>(runtime::strToInt(services.fieldText(Field::Edit6)));

    ProgressModel& bar = services.progressBar();
    bar.setMin(0);
    bar.setMax(image->height);
    bar.setPosition(0);
    bar.setStep(1);

    auto output = createOutput(services, *input, *outputPath);
    if (!output) return;

    const std::size_t width = static_cast<std::size_t>(image->width);
    const bool zeroWhite = nirWhite == 0.0f || redWhite == 0.0f;
    std::optional<NdviTable> table;
    if (!zeroWhite && image->height > 0) table.emplace(nirWhite, redWhite);

    std::vector<std::uint8_t> rowIn(static_cast<std::size_t>(image->rowStride));
    std::vector<float> rowOut(width);
    std::int64_t outputOffset = 0;
    for (std::int32_t i = 0; i < image->height; ++i) {
        input->readAt(imageRowOffset(image->height, image->rowStride, i), rowIn.data(), rowIn.size());
        // A zero white value fails at the very first pixel, with the error that
        // pixel's bytes give.
        if (zeroWhite) ndviPixel(rowIn[2], rowIn[1], nirWhite, redWhite);

        // One look-up per pixel, the pump after every pixel.
        forEachPumped(services, width, [&](std::size_t first, std::size_t count) {
            const std::uint8_t* px = rowIn.data() + 3 * first;
            for (std::size_t j = first; j < first + count; ++j, px += 3) rowOut[j] = (*table)(px[2], px[1]);
        });
        output->writeAt(outputOffset, rowOut.data(), width * sizeof(float));
        outputOffset += static_cast<std::int64_t>(width * sizeof(float));
        bar.stepIt();
    }

    reportCompletion(services, output->flush(), *outputPath);
    bar.setPosition(0);
    input->close();
    output->close();
}

}  // namespace bitmap
