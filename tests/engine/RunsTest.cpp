// The engine's run functions used directly, as the batch tool and the viewer use
// them: progress per row, cancelling, rows shown as they are made, and failures that
// stop the run.

#include "engine/Runs.h"
#include "runtime/Exceptions.h"

#include "BmpFixture.h"
#include "ExpectedOutput.h"
#include "MemorySource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using testing_support::asymmetricPicture;
using testing_support::encodeBmp;
using testing_support::readerOf;

using Bytes = std::vector<std::uint8_t>;

// Keeps everything written, in memory.
class MemorySink final : public engine::BlockSink {
public:
    Bytes bytes;
    int commits = 0;
    std::uint8_t* reserve(std::size_t size) override
    {
        room_.resize(size);
        return room_.data();
    }
    void commit(std::size_t size) override
    {
        bytes.insert(bytes.end(), room_.begin(), room_.begin() + static_cast<std::ptrdiff_t>(size));
        ++commits;
    }

private:
    Bytes room_;
};

TEST(RunNdvi, ShowsEveryRowOnceInOrderWithTheValuesWritten)
{
    // Rows of 120,000 bytes of output: nine to a block, so 20 rows make three blocks.
    const auto picture = asymmetricPicture(30000, 20);
    auto reader = readerOf(encodeBmp(picture, testing_support::BmpLayout{24, 124, 3, true}));
    reader.require24Bit();
    MemorySink sink;
    Bytes observed;
    std::int64_t nextRow = 0;
    std::size_t rowCalls = 0;
    engine::RunControl control;
    control.onRow = [&](std::size_t pixels) {
        EXPECT_EQ(pixels, 30000u);
        ++rowCalls;
    };

    engine::runNdvi(reader, 200, 180, &sink,
                    [&](std::int64_t first, std::int64_t count, const float* values) {
                        EXPECT_EQ(first, nextRow);
                        nextRow += count;
                        const auto* b = reinterpret_cast<const std::uint8_t*>(values);
                        observed.insert(observed.end(), b, b + count * 30000 * 4);
                    },
                    control);

    EXPECT_EQ(rowCalls, 20u);
    EXPECT_EQ(nextRow, 20);
    EXPECT_EQ(sink.commits, 3);
    EXPECT_EQ(sink.bytes, testing_support::expectedNdvi(picture, 200, 180));
    EXPECT_EQ(observed, sink.bytes);
}

TEST(RunControl, ACancelStopsBeforeTheNextRowWithAbort)
{
    auto reader = readerOf(encodeBmp(asymmetricPicture(7, 6)));
    reader.require24Bit();
    std::atomic<bool> cancel{false};
    int rows = 0;
    engine::RunControl control;
    control.cancel = &cancel;
    control.onRow = [&](std::size_t) {
        if (++rows == 2) cancel = true;
    };
    MemorySink sink;
    EXPECT_THROW(engine::runCrop(reader, sink, control), runtime::EAbort);
    EXPECT_EQ(rows, 2);
    rows = 0;
    cancel = false;
    EXPECT_THROW(engine::runAreaMaxima(reader, {0, 0, 6, 5}, control), runtime::EAbort);
    EXPECT_EQ(rows, 2);
}

TEST(RunFailures, AReadErrorStopsTheRunWithNothingMoreWritten)
{
    auto reader = readerOf(encodeBmp(asymmetricPicture(6, 5)), 60);
    reader.require24Bit();
    MemorySink sink;
    try {
        engine::runNdvi(reader, 255, 255, &sink);
        ADD_FAILURE() << "finished";
    } catch (const engine::EngineError& e) {
        EXPECT_EQ(e.failure(), engine::Failure::ReadFailed);
        EXPECT_STREQ(e.what(), "入力ファイルの読み込みに失敗しました\nmemory");
    }
    EXPECT_EQ(sink.commits, 0);
}

TEST(RunFailures, AFailedWriteStopsTheRunAtTheNextBlock)
{
    // 2000 rows of 8,000 bytes of output, 132 to a block: every write to a full disk
    // fails.
    auto reader = readerOf(encodeBmp(asymmetricPicture(2000, 2000)));
    reader.require24Bit();
    auto out = engine::OutputFile::create("/dev/full");
    std::int64_t rows = 0;
    engine::RunControl control;
    control.onRow = [&](std::size_t) { ++rows; };
    try {
        engine::runNdvi(reader, 255, 255, out.get(), {}, control);
        out->finish();
        ADD_FAILURE() << "reported written";
    } catch (const engine::EngineError& e) {
        EXPECT_EQ(e.failure(), engine::Failure::WriteFailed);
    }
    // The first block failed in the writer; at most one more was made meanwhile.
    EXPECT_LE(rows, 2 * 132);
}

// A bottom-up 2048-column picture goes from the file straight into the output file,
// mapped a window of rows at a time; 2,800 rows need two windows.
TEST(RunCrop, AStraightCopyIsExactAcrossItsWindows)
{
    testing_support::TempDir dir;
    const auto picture = asymmetricPicture(2048, 2800);
    testing_support::writeFile(dir.path("in.bmp"), encodeBmp(picture));
    auto reader = engine::PictureReader::open(dir.path("in.bmp").string());
    reader.require24Bit();
    auto out = engine::OutputFile::create(dir.path("out.bmp").string(), &reader);
    std::size_t rows = 0;
    engine::RunControl control;
    control.onRow = [&](std::size_t pixels) {
        EXPECT_EQ(pixels, 2048u);
        ++rows;
    };
    engine::runCrop(reader, *out, control);
    out->finish();
    EXPECT_EQ(rows, 2800u);
    EXPECT_EQ(testing_support::readFile(dir.path("out.bmp")), testing_support::expectedCrop(picture));
}

// The kernel cannot read the mapped rows of a file cut meanwhile; the crop then reads
// them and reports the cut, as it does for any other picture.
TEST(RunCrop, AStraightCopyOfAFileCutMidRunIsReportedAsCut)
{
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("in.bmp"), encodeBmp(asymmetricPicture(2048, 2800)));
    auto reader = engine::PictureReader::open(dir.path("in.bmp").string());
    reader.require24Bit();
    auto out = engine::OutputFile::create(dir.path("out.bmp").string(), &reader);
    engine::RunControl control;
    control.onRow = [&](std::size_t) { std::filesystem::resize_file(dir.path("in.bmp"), 54 + 6144 * 2000); };
    try {
        engine::runCrop(reader, *out, control);
        ADD_FAILURE() << "finished";
    } catch (const engine::EngineError& e) {
        EXPECT_EQ(e.failure(), engine::Failure::Truncated);
    }
}

TEST(RunCrop, AStraightCopyToAFullDiskIsAWriteFailure)
{
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("in.bmp"), encodeBmp(asymmetricPicture(2048, 300)));
    auto reader = engine::PictureReader::open(dir.path("in.bmp").string());
    reader.require24Bit();
    auto out = engine::OutputFile::create("/dev/full");
    try {
        engine::runCrop(reader, *out);
        out->finish();
        ADD_FAILURE() << "reported written";
    } catch (const engine::EngineError& e) {
        EXPECT_EQ(e.failure(), engine::Failure::WriteFailed);
    }
}

// Writer threads are kept for the next outputs, at most a few of them: twelve outputs
// open at once start twelve, and the ones past those kept end when their outputs do.
TEST(OutputFile, ManyOutputsAtOnceEachWriteTheirOwnBytes)
{
    testing_support::TempDir dir;
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<engine::OutputFile>> outs;
        for (int k = 0; k < 12; ++k) outs.push_back(engine::OutputFile::create(dir.path(std::to_string(k)).string()));
        for (int block = 0; block < 3; ++block) {
            for (int k = 0; k < 12; ++k) {
                const Bytes bytes(1000 + static_cast<std::size_t>(block), static_cast<std::uint8_t>(k * 16 + block + round));
                outs[static_cast<std::size_t>(k)]->write(bytes.data(), bytes.size());
            }
        }
        for (auto& out : outs) out->finish();
        for (int k = 0; k < 12; ++k) {
            Bytes expected;
            for (int block = 0; block < 3; ++block) {
                expected.insert(expected.end(), 1000 + static_cast<std::size_t>(block),
                                static_cast<std::uint8_t>(k * 16 + block + round));
            }
            EXPECT_EQ(testing_support::readFile(dir.path(std::to_string(k))), expected) << "output " << k;
        }
    }
}

// A pipe nobody reads from holds the writer as a slow disk would; the operation waits,
// calling its hook, and the pipe is read only once the hook has been called.
TEST(OutputFile, AnOperationWaitingForItsDiskCallsItsWaitHook)
{
    testing_support::TempDir dir;
    testing_support::HeldPipe pipe(dir.path("disk"));
    auto out = engine::OutputFile::create(dir.path("disk").string());
    int calls = 0;
    out->setWaitHook([&] {
        ++calls;
        pipe.release();
    });
    const Bytes block(1 << 20, 7);  // more than a pipe holds
    out->write(block.data(), block.size());
    out->write(block.data(), 10);
    out->finish();
    Bytes expected = block;
    expected.insert(expected.end(), block.begin(), block.begin() + 10);
    EXPECT_EQ(pipe.bytes(), expected);
    EXPECT_GT(calls, 0);
}

TEST(RunAreaMaxima, AnEmptyRectangleReadsNoPixelsButPassesItsRows)
{
    auto reader = readerOf(encodeBmp(asymmetricPicture(6, 5)), 54);  // any pixel read would fail
    reader.require24Bit();
    int rows = 0;
    engine::RunControl control;
    control.onRow = [&](std::size_t pixels) {
        EXPECT_EQ(pixels, 0u);
        ++rows;
    };
    const auto max = engine::runAreaMaxima(reader, {4, 1, 3, 3}, control);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(max.red() + max.green() + max.blue(), 0);
}

}  // namespace
