// Any file through the header probe, the bit-depth gate and the row reads: the values
// and bytes read must be exactly those in the file, zero where it has none.

#include "FuzzHarness.h"

#include "bitmap/BitmapProbe.h"
#include "bitmap/OperationSteps.h"

using namespace fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Bytes file(data, data + size);
    const Header h = headerOf(file);
    Scratch& scratch = Scratch::get();
    scratch.prepare(file);

    auto input = bitmap::InputFile::open(scratch.input());
    FUZZ_CHECK(input.has_value());
    const bitmap::BitmapProbe p = bitmap::probe(*input);
    FUZZ_CHECK(p.width == h.width && p.height == h.height && p.bitCount == h.bitCount);

    testing_support::FakeServices fake;
    std::optional<bitmap::BitmapProbe> gated;
    Outcome outcome;
    try {
        gated = bitmap::probeAndGate(fake, *input, "8");
    } catch (const testing_support::ProcessExit& e) {
        outcome.exitStatus = e.status;
    }
    if (checkGateStop(h, outcome, fake, "8")) {
        FUZZ_CHECK(!gated.has_value());
        return 0;
    }
    FUZZ_CHECK(gated.has_value() && fake.messages.empty());
    const std::int64_t stride = strideOf(h.width);
    FUZZ_CHECK(gated->rowStride == stride);

    // The top and bottom image rows, and the rows just outside them.
    const std::int64_t ys[] = {0, std::int64_t{h.height} - 1, -1, h.height};
    Bytes row(static_cast<std::size_t>(stride));
    for (const std::int64_t y : ys) {
        const std::int64_t offset = (std::int64_t{h.height} - 1 - y) * stride + 54;
        FUZZ_CHECK(bitmap::imageRowOffset(h.height, stride, y) == offset);
        input->readAt(offset, row.data(), row.size());
        FUZZ_CHECK(row == bytesAt(file, offset, row.size()));
    }
    return 0;
}
