// Any file and any two white-panel texts through the NDVI raster: the raster must hold,
// top row first, exactly the tests' own formula's value for the bytes the file
// holds (zero where it has none), and a zero white value must fail at the top-left
// pixel with the error its bytes give.

#include "FuzzHarness.h"
#include "NdviOracle.h"

#include "window/NdviRaster.h"
#include "runtime/Exceptions.h"
#include "runtime/IntegerConversion.h"

#include <bit>
#include <cstring>

using namespace fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Case c = split(data, size, 2);
    const Header h = headerOf(c.file);
    const std::int64_t stride = strideOf(h.width);
    if (verdictOf(h) == Verdict::Proceed
        && (h.rows() * stride > kByteBudget || h.rows() * h.width > kPixelBudget)) {
        return 0;
    }

    Scratch& scratch = Scratch::get();
    scratch.prepare(c.file);
    testing_support::FakeServices fake;
    fake.fields = {{window::Field::Edit5, c.fields[0]}, {window::Field::Edit6, c.fields[1]}};
    const Outcome outcome = run(window::makeNdviRaster, fake);
    if (checkGateStop(h, outcome, fake, "24ビットフォルスカラ―画像を指定してください")) return 0;

    const auto nir = runtime::tryStrToInt(c.fields[0]);
    const auto red = runtime::tryStrToInt(c.fields[1]);
    if (!nir || !red) {
        FUZZ_CHECK(outcome.error && *outcome.error == typeid(runtime::EConvertError));
        FUZZ_CHECK(outcome.errorMessage == runtime::notAnIntegerMessage(c.fields[nir ? 1 : 0]));
        FUZZ_CHECK(!scratch.outputExists());
        return 0;
    }
    const std::int64_t rows = h.rows();
    const float nirWhite = static_cast<float>(*nir);
    const float redWhite = static_cast<float>(*red);
    const Bytes out = scratch.outputBytes();
    if (rows > 0 && (nirWhite == 0.0f || redWhite == 0.0f)) {
        // The red band is divided first, so its byte decides when its white is 0.
        const Bytes topLeft = bytesAt(c.file, imageRowOffset(h, 0), 3);
        const std::uint8_t byte = redWhite == 0.0f ? topLeft[1] : topLeft[2];
        const std::type_info& kind = byte == 0 ? typeid(runtime::EInvalidOp) : typeid(runtime::EZeroDivide);
        FUZZ_CHECK(outcome.error && *outcome.error == kind);
        FUZZ_CHECK(scratch.outputExists() && out.empty());
        FUZZ_CHECK(fake.messages.empty());
        return 0;
    }

    FUZZ_CHECK(outcome.returned());
    FUZZ_CHECK(fake.messages == std::vector<std::string>{"完了"});
    FUZZ_CHECK(static_cast<std::int64_t>(out.size()) == std::int64_t{h.width} * rows * 4);
    std::vector<std::uint32_t> reference(1 << 16);
    std::vector<bool> known(1 << 16);
    const std::uint8_t* value = out.data();
    for (std::int64_t y = 0; y < rows; ++y) {
        const Bytes row = bytesAt(c.file, imageRowOffset(h, y), static_cast<std::size_t>(stride));
        for (std::int64_t x = 0; x < h.width; ++x, value += 4) {
            const std::uint8_t g = row[static_cast<std::size_t>(3 * x + 1)];
            const std::uint8_t r = row[static_cast<std::size_t>(3 * x + 2)];
            const std::size_t pair = std::size_t{r} << 8 | g;
            if (!known[pair]) {
                const float v = testing_support::oracleNdvi(r, g, nirWhite, redWhite);
                reference[pair] = std::bit_cast<std::uint32_t>(v);
                known[pair] = true;
                if (nirWhite > 0.0f && redWhite > 0.0f) {
                    FUZZ_CHECK(r == 0 && g == 0 ? v == -10.0f : v >= -1.0f && v <= 1.0f);
                }
            }
            std::uint32_t written;
            std::memcpy(&written, value, 4);
            FUZZ_CHECK(written == reference[pair]);
        }
    }
    FUZZ_CHECK(fake.pumps == std::int64_t{h.width} * rows);
    FUZZ_CHECK(fake.progress.stepCount() == rows && fake.progress.position() == 0);
    return 0;
}
