#include "bitmap/AreaMaxima.h"

#include "bitmap/OperationSteps.h"
#include "runtime/IntegerConversion.h"

#include <algorithm>
#include <array>
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

void ChannelMaxima::scan(const std::uint8_t* pixels, std::size_t count) noexcept
{
    // Bytes run blue, green, red, blue, ...; a block of 48 bytes is 16 whole pixels, so
    // byte k of every block belongs to channel k % 3. The byte-wise maxima over whole
    // blocks are a loop the compiler turns into vector code (each block is copied
    // first, which tells it the block cannot overlap the maxima); the channels are
    // sorted out of the 48 maxima once per call.
    constexpr std::size_t kBlock = 48;
    std::array<std::uint8_t, kBlock> blockMax{};
    const std::size_t bytes = 3 * count;
    std::size_t i = 0;
    for (; i + kBlock <= bytes; i += kBlock) {
        std::array<std::uint8_t, kBlock> block;
        std::copy_n(pixels + i, kBlock, block.begin());
        for (std::size_t k = 0; k < kBlock; ++k) blockMax[k] = std::max(blockMax[k], block[k]);
    }
    for (std::size_t k = 0; i + k < bytes; ++k) blockMax[k] = std::max(blockMax[k], pixels[i + k]);
    for (std::size_t k = 0; k < kBlock; ++k) max_[k % 3] = std::max(max_[k % 3], blockMax[k]);
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

    ChannelMaxima max;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image->rowStride));
    // Columns x1 to x2; none for a rectangle wholly right of the picture.
    const std::size_t columns = area.x1 <= area.x2 ? static_cast<std::size_t>(area.x2 - area.x1 + 1) : 0;
    const auto x1 = static_cast<std::size_t>(area.x1);
    for (std::int64_t y = area.y1; y <= area.y2; ++y) {
        input->readAt(imageRowOffset(image->height, image->rowStride, y), row.data(), row.size());
        // The pump after every pixel.
        forEachPumped(services, columns, [&](std::size_t first, std::size_t count) {
            max.scan(row.data() + 3 * (x1 + first), count);
        });
    }
    bar.stepIt();

    services.showMessage(kDoneMessage);
    services.setResultLabel(ResultLabel::Label8, std::to_string(max.red()));
    services.setResultLabel(ResultLabel::Label9, std::to_string(max.green()));
    services.setResultLabel(ResultLabel::Label10, std::to_string(max.blue()));
    bar.setPosition(0);
    input->close();
}

}  // namespace bitmap
