#include "window/NdviRaster.h"

#include "window/OperationSteps.h"
#include "runtime/IntegerConversion.h"

#include <bit>

static_assert(std::endian::native == std::endian::little, "the raster is written as the machine's floats, which must be little-endian");

namespace window {

using namespace engine;  // the scripts are written in the engine's terms

void makeNdviRaster(Services& services)
{
    const auto inputPath = services.chooseFile(FileDialog::Open, {"対象物フォルスカラ―画像ファイル", kBmpFilter, ".bmp"});
    if (!inputPath) return;
    auto input = openInput(services, *inputPath);
    if (!input) return;

    const auto outputPath =
        services.chooseFile(FileDialog::Save, {"保存先ファイル名（NDVI-RAW）を指定する", "RAWファイル (*.raw) | *.raw", ".raw"});
    if (!outputPath) return;

    if (!gateInput(services, *input, "24ビットフォルスカラ―画像を指定してください")) return;

    const float nirWhite = static_cast<float>(runtime::strToInt(services.fieldText(Field::Edit5)));
    const float redWhite = static_cast<float>(runtime::strToInt(services.fieldText(Field::Edit6)));

    ProgressModel& bar = services.progressBar();
    bar.setMin(0);
    bar.setMax(static_cast<int>(input->height()));
    bar.setPosition(0);
    bar.setStep(1);

    auto output = createOutput(services, *input, *outputPath);
    if (!output) return;

    RunControl control;
    control.onRows = [&](std::int64_t rows, std::size_t pixels) {
        for (std::int64_t i = 0; i < rows; ++i) {
            forEachPumped(services, pixels, [](std::size_t, std::size_t) {});  // the pump after every pixel
            bar.stepIt();
        }
    };
    // "完了" only once every value reached the file and it closed cleanly.
    if (runReporting(services, [&] {
            runNdvi(*input, nirWhite, redWhite, output.get(), {}, control);
            output->finish();
        })) {
        services.showMessage(kDoneMessage);
    }
    bar.setPosition(0);
}

}  // namespace window
