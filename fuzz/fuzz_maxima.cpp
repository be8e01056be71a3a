// Any file and any four field texts through the area maxima: the labels must show the
// largest bytes of the fitted rectangle as the file holds them.

#include "FuzzHarness.h"

#include "window/AreaMaxima.h"
#include "runtime/Exceptions.h"
#include "runtime/IntegerConversion.h"

#include <algorithm>
#include <map>

using namespace fuzzing;
using window::ResultLabel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Case c = split(data, size, 4);
    const Header h = headerOf(c.file);
    const std::int64_t stride = strideOf(h.width);

    std::optional<std::int32_t> typed[4];
    int firstBad = -1;
    for (int i = 0; i < 4; ++i) {
        typed[i] = runtime::tryStrToInt(c.fields[i]);
        if (!typed[i] && firstBad < 0) firstBad = i;
    }
    // The rectangle fitted to the picture, step by step as the window fits it.
    std::int64_t x1 = 0, y1 = 0, x2 = -1, y2 = -1;
    const bool upright = firstBad < 0 && *typed[1] <= *typed[3] && *typed[2] >= *typed[0];
    if (upright) {
        x1 = std::max<std::int64_t>(*typed[0], 0);
        y1 = std::max<std::int64_t>(*typed[1], 0);
        x2 = std::min<std::int64_t>(*typed[2], std::int64_t{h.width} - 1);
        y2 = std::min<std::int64_t>(*typed[3], h.rows() - 1);
        if (x1 > x2) x2 = std::int64_t{h.width} - 1;
        if (y1 > y2) y2 = h.rows() - 1;
    }
    const std::int64_t rows = std::max<std::int64_t>(y2 - y1 + 1, 0);
    const std::int64_t columns = std::max<std::int64_t>(x2 - x1 + 1, 0);
    if (verdictOf(h) == Verdict::Proceed && (rows * stride > kByteBudget || rows * columns > kPixelBudget)) return 0;

    Scratch::get().prepare(c.file);
    testing_support::FakeServices fake;
    fake.fields = {{window::Field::Edit1, c.fields[0]}, {window::Field::Edit2, c.fields[1]},
                   {window::Field::Edit3, c.fields[2]}, {window::Field::Edit4, c.fields[3]}};
    const Outcome outcome = run(window::findAreaMaxima, fake);
    if (checkGateStop(h, outcome, fake, "24ビットカラー画像を指定してください")) {
        FUZZ_CHECK(fake.labels.empty());
        return 0;
    }
    if (firstBad >= 0) {
        FUZZ_CHECK(outcome.error && *outcome.error == typeid(runtime::EConvertError));
        FUZZ_CHECK(outcome.errorMessage == runtime::notAnIntegerMessage(c.fields[firstBad]));
    } else if (!upright) {
        FUZZ_CHECK(outcome.exitStatus == -1);
        const char* message = *typed[1] > *typed[3] ? "y値が違います" : "x値が違います";
        FUZZ_CHECK(fake.messages == std::vector<std::string>{message});
    }
    if (!outcome.returned()) {
        FUZZ_CHECK(fake.labels.empty() && fake.pumps == 0);
        return 0;
    }

    int maxima[3] = {0, 0, 0};  // blue, green, red
    for (std::int64_t y = y1; y <= y2; ++y) {
        const Bytes row = bytesAt(c.file, imageRowOffset(h, y), static_cast<std::size_t>(stride));
        for (std::int64_t x = x1; x <= x2; ++x) {
            for (int b = 0; b < 3; ++b) maxima[b] = std::max<int>(maxima[b], row[static_cast<std::size_t>(3 * x + b)]);
        }
    }
    FUZZ_CHECK(fake.messages == std::vector<std::string>{"完了"});
    FUZZ_CHECK(fake.labelsAtMessage.at(0).empty());  // the labels change once "完了" is dismissed
    const std::map<ResultLabel, std::string> expected{{ResultLabel::Label8, std::to_string(maxima[2])},
                                                      {ResultLabel::Label9, std::to_string(maxima[1])},
                                                      {ResultLabel::Label10, std::to_string(maxima[0])}};
    FUZZ_CHECK(fake.labels == expected);
    FUZZ_CHECK(fake.pumps == rows * columns);
    FUZZ_CHECK(fake.progress.stepCount() == 1 && fake.progress.position() == 0);
    return 0;
}
