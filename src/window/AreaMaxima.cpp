#include "window/AreaMaxima.h"

#include "window/OperationSteps.h"
#include "runtime/IntegerConversion.h"

#include <string>

namespace window {

using namespace engine;  // the scripts are written in the engine's terms

void findAreaMaxima(Services& services)
{
    const auto inputPath = services.chooseFile(FileDialog::Open, {"対象カラ―画像ファイル", kBmpFilter, ".bmp"});
    if (!inputPath) return;
    auto input = openInput(services, *inputPath);
    if (!input) return;
    if (!gateInput(services, *input, "24ビットカラー画像を指定してください")) return;

    Rectangle area{};
    area.x1 = runtime::strToInt(services.fieldText(Field::Edit1));
    area.y1 = runtime::strToInt(services.fieldText(Field::Edit2));
    area.x2 = runtime::strToInt(services.fieldText(Field::Edit3));
    area.y2 = runtime::strToInt(services.fieldText(Field::Edit4));

    // Upside-down or right-to-left rectangles, as typed, end the program.
    if (area.y1 > area.y2) {
        services.showMessage("y値が違います");
        services.exitProcess(-1);
    }
    if (area.x2 < area.x1) {
        services.showMessage("x値が違います");
        services.exitProcess(-1);
    }
    area = clampToPicture(area, input->width(), input->height());

    ProgressModel& bar = services.progressBar();
    bar.setMin(0);
    bar.setMax(1);
    bar.setPosition(0);
    bar.setStep(1);

    RunControl control;
    control.onRows = [&](std::int64_t rows, std::size_t pixels) {
        for (std::int64_t i = 0; i < rows; ++i) forEachPumped(services, pixels, [](std::size_t, std::size_t) {});
    };
    ChannelMaxima max;
    if (!runReporting(services, [&] { max = runAreaMaxima(*input, area, control); })) {
        bar.setPosition(0);
        return;
    }
    bar.stepIt();

    services.showMessage(kDoneMessage);
    services.setResultLabel(ResultLabel::Label8, std::to_string(max.red()));
    services.setResultLabel(ResultLabel::Label9, std::to_string(max.green()));
    services.setResultLabel(ResultLabel::Label10, std::to_string(max.blue()));
    bar.setPosition(0);
}

}  // namespace window
