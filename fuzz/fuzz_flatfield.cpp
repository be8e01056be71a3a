// Any text as a flat-field file's description: refused with a FlatFieldError naming the
// file, or a model no wider than a frame the reader takes, whose description reads back
// as the same model, and whose gains over the frame (a few rows) are finite, above 0,
// at most 1.001 and within a factor of 8 of each other.

#include "FuzzHarness.h"

#include "engine/calibration/FlatField.h"
#include "engine/formats/BitmapProbe.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

using namespace fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    engine::FlatFieldModel model;
    try {
        model = engine::parseFlatFieldDescription(text, "ff.tif");
    } catch (const engine::FlatFieldError& e) {
        FUZZ_CHECK(e.path() == "ff.tif");
        FUZZ_CHECK(!e.problem().empty());
        return 0;
    }
    FUZZ_CHECK(model.width >= 1 && model.width <= engine::kMaxWidth && model.height >= 1);
    FUZZ_CHECK(engine::parseFlatFieldDescription(engine::flatFieldDescription(model), "again.tif") == model);
    // The rows through the frame's centre and its edges; of a very wide frame, the
    // gains of every column are still made, so only those up to a budget are looked at.
    if (model.width > kPixelBudget) return 0;
    const engine::FlatField flat(model);
    const auto width = static_cast<std::size_t>(model.width);
    std::vector<float> nir(width), red(width);
    float low[2] = {2, 2}, high[2] = {0, 0};
    for (const std::int64_t y : {std::int64_t{0}, model.height / 2, model.height - 1}) {
        flat.rowGains(y, nir.data(), red.data());
        for (int b = 0; b < 2; ++b) {
            for (const float g : b == 0 ? nir : red) {
                FUZZ_CHECK(std::isfinite(g) && g > 0 && g <= 1.001f);
                low[b] = std::min(low[b], g);
                high[b] = std::max(high[b], g);
            }
        }
    }
    for (int b = 0; b < 2; ++b) FUZZ_CHECK(high[b] <= 8.001f * low[b]);
    return 0;
}
