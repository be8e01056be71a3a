// Any file through the reader: the header values, the checks and the rows read must
// be exactly what the file holds, as the format defines it, and a picture the checks
// take must never read past the end of the file.

#include "FuzzHarness.h"

#include "engine/formats/PictureReader.h"
#include "window/OperationSteps.h"

using namespace fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Bytes file(data, data + size);
    const Header h = headerOf(file);
    Scratch& scratch = Scratch::get();
    scratch.prepare(file);

    auto reader = engine::PictureReader::open(scratch.input());
    const engine::BitmapProbe& p = reader.header();
    FUZZ_CHECK(p.width == h.width && p.height == h.height && p.bitCount == h.bitCount);
    FUZZ_CHECK(p.pixelOffset == h.pixelOffset && p.infoSize == h.infoSize && p.compression == h.compression);

    testing_support::FakeServices fake;
    bool taken = false;
    Outcome outcome;
    try {
        taken = window::gateInput(fake, reader, "8");
    } catch (const testing_support::ProcessExit& e) {
        outcome.exitStatus = e.status;
    }
    if (checkGateStop(h, outcome, fake, "8")) {
        FUZZ_CHECK(!taken);
        return 0;
    }
    FUZZ_CHECK(taken && fake.messages.empty());
    const std::int64_t stride = strideOf(h.width);
    FUZZ_CHECK(reader.stride() == stride && reader.height() == h.rows());
    if (h.rows() * stride > kByteBudget) return 0;

    // Every row, top first and bottom first, through the block reads.
    for (const auto order : {engine::RowStream::Order::TopFirst, engine::RowStream::Order::BottomFirst}) {
        engine::RowStream rows(reader, order, 0, h.rows() - 1);
        for (std::int64_t i = 0; i < h.rows(); ++i) {
            const std::int64_t y = order == engine::RowStream::Order::TopFirst ? i : h.rows() - 1 - i;
            const Bytes expected = bytesAt(file, imageRowOffset(h, y), static_cast<std::size_t>(stride));
            FUZZ_CHECK(std::equal(expected.begin(), expected.end(), rows.next()));
        }
        FUZZ_CHECK(rows.next() == nullptr);
    }
    return 0;
}
