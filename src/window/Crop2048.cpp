#include "window/Crop2048.h"

#include "window/OperationSteps.h"

namespace window {

using namespace engine;  // the scripts are written in the engine's terms

void cropTo2048(Services& services)
{
    const auto inputPath = services.chooseFile(FileDialog::Open, {"切り出し対象カラ―画像ファイル", kBmpFilter, ".bmp"});
    if (!inputPath) return;
    auto input = openInput(services, *inputPath);
    if (!input) return;

    const auto outputPath = services.chooseFile(FileDialog::Save, {"保存先ファイル名を指定する", kBmpFilter, ".bmp"});
    if (!outputPath) return;

    if (!gateInput(services, *input, "24ビットカラ―画像を指定してください")) return;
    // Refused before the output is created, which would empty a file of that name.
    if (!runReporting(services, [&] { requireCroppable(*input); })) return;
    auto output = createOutput(services, *input, *outputPath);
    if (!output) return;

    ProgressModel& bar = services.progressBar();
    bar.setMin(0);
    bar.setMax(static_cast<int>(input->height()));
    bar.setPosition(0);
    bar.setStep(1);

    RunControl control;
    control.onRows = [&](std::int64_t rows, std::size_t pixels) {
        for (std::int64_t i = 0; i < rows; ++i) {
            services.pumpEvents(static_cast<std::uint32_t>(pixels));  // once per row
            bar.stepIt();
        }
    };
    if (runReporting(services, [&] {
            runCrop(*input, *output, control);
            output->finish();
        })) {
        services.showMessage(kDoneMessage);
    }
    bar.setPosition(0);
}

}  // namespace window
