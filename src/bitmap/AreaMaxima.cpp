#include "bitmap/AreaMaxima.h"

#include "bitmap/OperationSteps.h"
#include "runtime/IntegerConversion.h"

#include <string>
#include <vector>

namespace bitmap {

Rectangle clampToPicture(Rectangle r, std::int64_t width, std::int64_t height) noexcept
{
    if (r.x1 < 0) r.x1 = 0;
    if (r.y1 < 0) r.y1 = 0;
    if (r.x2 >= width) r.x2 = width - 1;
    if (r.y2 >= height) r.y2 = height - 1;
    if (r.x1 > r.x2) r.x2 = width - 1;
    if (r.y1 > r.y2) r.y2 = height - 1;
    return r;
}

void findAreaMaxima(Services& services)
{
    const auto inputPath = services.chooseFile(FileDialog::Open, {"対象カラ―画像ファイル", kBmpFilter, ".bmp"});
    if (!inputPath) return;
    auto input = openInput(services, *inputPath);
    if (!input) return;

    const auto image = probeAndGate(services, *input, "24ビットカラー画像を指定してください");
    if (!image) return;

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
    area = clampToPicture(area, image->width, image->height);

    ProgressModel& bar = services.progressBar();
    bar.setMin(0);
    bar.setMax(1);
    bar.setPosition(0);
    bar.setStep(1);

    int maxB = 0;
    int maxG = 0;
    int maxR = 0;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image->rowStride));
    for (std::int64_t y = area.y1; y <= area.y2; ++y) {
        input->readAt(imageRowOffset(image->height, image->rowStride, y), row.data(), row.size());
        for (std::int64_t x = area.x1; x <= area.x2; ++x) {
            const std::uint8_t* px = row.data() + 3 * x;
            if (px[0] > maxB) maxB = px[0];
            if (px[1] > maxG) maxG = px[1];
            if (px[2] > maxR) maxR = px[2];
            services.pumpEvents();
        }
    }
    bar.stepIt();

    services.showMessage(kDoneMessage);
    services.setResultLabel(ResultLabel::Label8, std::to_string(maxR));
    services.setResultLabel(ResultLabel::Label9, std::to_string(maxG));
    services.setResultLabel(ResultLabel::Label10, std::to_string(maxB));
    bar.setPosition(0);
    input->close();
}

}  // namespace bitmap
