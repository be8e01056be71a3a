// Any file through the crop: the output is the 54-byte header and, for every row from
// the bottom, its first 2048 pixels as the file holds them, black beyond a narrower one.

#include "FuzzHarness.h"

#include "window/Crop2048.h"
#include "runtime/Exceptions.h"

#include <algorithm>
#include <cstring>

using namespace fuzzing;

namespace {

constexpr std::int64_t kOutRow = 6144;

void put32(Bytes& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes headerFor(std::int32_t height)
{
    Bytes h(54, 0);
    h[0] = 'B';
    h[1] = 'M';
    put32(h, 2, static_cast<std::uint32_t>(kOutRow * height + 54));
    put32(h, 10, 54);
    put32(h, 14, 40);
    put32(h, 18, 2048);
    put32(h, 22, static_cast<std::uint32_t>(height));
    h[26] = 1;
    h[28] = 24;
    put32(h, 34, static_cast<std::uint32_t>(kOutRow * height));
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Bytes file(data, data + size);
    const Header h = headerOf(file);
    const std::int64_t stride = strideOf(h.width);
    if (verdictOf(h) == Verdict::Proceed && h.rows() * std::max(stride, kOutRow) > kByteBudget) return 0;

    Scratch& scratch = Scratch::get();
    scratch.prepare(file);
    testing_support::FakeServices fake;
    const Outcome outcome = run(window::cropTo2048, fake);
    if (checkGateStop(h, outcome, fake, "24ビットカラ―画像を指定してください")) return 0;

    const Bytes out = scratch.outputBytes();
    const std::int64_t rows = h.rows();
    FUZZ_CHECK(outcome.returned());
    FUZZ_CHECK(fake.messages == std::vector<std::string>{"完了"});
    FUZZ_CHECK(static_cast<std::int64_t>(out.size()) == 54 + kOutRow * rows);
    FUZZ_CHECK(std::equal(out.begin(), out.begin() + 54, headerFor(static_cast<std::int32_t>(rows)).begin()));
    // Pixel bytes only: the padding of a narrow picture's rows comes out black.
    const std::size_t kept = static_cast<std::size_t>(std::min<std::int64_t>(std::int64_t{h.width} * 3, kOutRow));
    for (std::int64_t k = 0; k < rows; ++k) {
        const std::uint8_t* row = out.data() + 54 + k * kOutRow;
        const Bytes expected = bytesAt(file, imageRowOffset(h, rows - 1 - k), kept);
        FUZZ_CHECK(std::memcmp(row, expected.data(), kept) == 0);
        FUZZ_CHECK(std::all_of(row + kept, row + kOutRow, [](std::uint8_t b) { return b == 0; }));
    }
    FUZZ_CHECK(fake.progress.stepCount() == rows && fake.progress.max() == rows);
    FUZZ_CHECK(fake.progress.position() == 0);
    return 0;
}
