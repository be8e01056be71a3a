// The engine's run functions used directly, as the batch tool and the viewer use
// them: progress per row or block, cancelling, the crop's height limit, rows shown as they are made, and failures that
// stop the run.

#include "engine/ops/Runs.h"
#include "runtime/Exceptions.h"

#include "BmpFixture.h"
#include "ExpectedOutput.h"
#include "MemorySource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
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
    control.onRows = [&](std::int64_t rows, std::size_t pixels) {
        EXPECT_EQ(rows, 1);
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

// How the crop goes through a picture: by blocks straight from the mapped file or
// into the output block (bottom-up pictures of 2048 columns or more), or row by row.
struct CropCase {
    const char* name;
    std::int32_t width, height;
    bool topDown;
    bool onDisk;                        // read from a file into an output file: the mapped copy
    std::vector<std::int64_t> reports;  // the rows of each report
    bool byBlock;                       // each report comes once its rows are in the output
};

void PrintTo(const CropCase& c, std::ostream* os) { *os << c.name; }

class CropProgress : public ::testing::TestWithParam<CropCase> {
protected:
    // Runs the crop, setting the cancel flag at the report cancelAt (counted from 1;
    // 0: never), and gives the rows of each report.
    std::vector<std::int64_t> run(int cancelAt, bool& aborted)
    {
        const CropCase& c = GetParam();
        const Bytes bmp = encodeBmp(asymmetricPicture(c.width, c.height), testing_support::BmpLayout{24, 40, 0, c.topDown});
        testing_support::TempDir dir;
        std::optional<engine::PictureReader> reader;
        std::unique_ptr<engine::OutputFile> file;
        MemorySink memory;
        engine::BlockSink* sink = &memory;
        if (c.onDisk) {
            testing_support::writeFile(dir.path("in.bmp"), bmp);
            reader.emplace(engine::PictureReader::open(dir.path("in.bmp").string()));
            file = engine::OutputFile::create(dir.path("out.bmp").string());
            sink = file.get();
        } else {
            reader.emplace(readerOf(bmp));
        }
        reader->require24Bit();
        const auto outputBytes = [&]() -> std::uintmax_t {
            return c.onDisk ? std::filesystem::file_size(dir.path("out.bmp")) : memory.bytes.size();
        };

        std::atomic<bool> cancel{false};
        std::vector<std::int64_t> reports;
        std::int64_t done = 0;
        engine::RunControl control;
        control.cancel = &cancel;
        control.onRows = [&](std::int64_t rows, std::size_t pixels) {
            EXPECT_EQ(pixels, static_cast<std::size_t>(c.width));
            reports.push_back(rows);
            done += rows;
            if (c.byBlock) {
                EXPECT_EQ(outputBytes(), 54 + static_cast<std::uintmax_t>(done) * 6144);
            }
            if (static_cast<int>(reports.size()) == cancelAt) cancel = true;
        };
        aborted = false;
        try {
            engine::runCrop(*reader, *sink, control);
            if (file) file->finish();
        } catch (const runtime::EAbort&) {
            aborted = true;
        }
        return reports;
    }
};

TEST_P(CropProgress, ReportsEveryRowOnceAsItsBlockIsDone)
{
    bool aborted = true;
    EXPECT_EQ(run(0, aborted), GetParam().reports);
    EXPECT_FALSE(aborted);
}

TEST_P(CropProgress, ACancelSetMidPictureStopsBeforeTheNextBlock)
{
    bool aborted = false;
    EXPECT_EQ(run(1, aborted), std::vector<std::int64_t>{GetParam().reports.front()});
    EXPECT_TRUE(aborted);
}

// Blocks of output are at least 1 MiB: 171 rows of 6,144 bytes; mapped windows of rows
// 16 MiB: 2,730 rows.
INSTANTIATE_TEST_SUITE_P(
    Paths, CropProgress,
    ::testing::Values(CropCase{"Mapped", 2048, 2800, false, true, {2730, 70}, true},
                      CropCase{"StraightIntoTheBlock", 2048, 200, false, false, {171, 29}, true},
                      CropCase{"WideColumnsIntoTheBlock", 2100, 200, false, false, {171, 29}, true},
                      CropCase{"WideTopDown", 2100, 2, true, false, {1, 1}, false},
                      CropCase{"Narrow", 7, 2, false, false, {1, 1}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunControl, ACancelStopsTheOtherRunsBeforeTheNextRowWithAbort)
{
    auto reader = readerOf(encodeBmp(asymmetricPicture(7, 6)));
    reader.require24Bit();
    std::atomic<bool> cancel{false};
    std::int64_t rows = 0;
    engine::RunControl control;
    control.cancel = &cancel;
    control.onRows = [&](std::int64_t n, std::size_t) {
        if ((rows += n) == 2) cancel = true;
    };
    EXPECT_THROW(engine::runAreaMaxima(reader, {0, 0, 6, 5}, control), runtime::EAbort);
    EXPECT_EQ(rows, 2);
    rows = 0;
    cancel = false;
    EXPECT_THROW(engine::runNdvi(reader, 200, 180, nullptr, {}, control), runtime::EAbort);
    EXPECT_EQ(rows, 2);
}

// A source that claims a picture of the given header, its pixels all zero, without
// holding them.
class HeaderOnlySource final : public engine::ByteSource {
public:
    HeaderOnlySource(Bytes header, std::int64_t size) : header_(std::move(header)), size_(size) {}
    std::int64_t size() const override { return size_; }
    std::size_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t size) override
    {
        const auto n = static_cast<std::size_t>(std::clamp<std::int64_t>(size_ - offset, 0, static_cast<std::int64_t>(size)));
        std::memset(buffer, 0, n);
        for (std::size_t i = 0; i < n && offset + static_cast<std::int64_t>(i) < static_cast<std::int64_t>(header_.size()); ++i) {
            buffer[i] = header_[static_cast<std::size_t>(offset) + i];
        }
        return n;
    }
    bool isSameFile(const std::string&) const override { return false; }

private:
    Bytes header_;
    std::int64_t size_;
};

TEST(RunCrop, RefusesMoreRowsThanItsHeaderHoldsBeforeWritingAnything)
{
    struct Case {
        std::int32_t storedHeight;
        bool refused;
    };
    // A top-down picture stores its height negative: -2^31 is 2^31 rows.
    for (const Case c : {Case{std::numeric_limits<std::int32_t>::min(), true},
                         Case{-std::numeric_limits<std::int32_t>::max(), false},
                         Case{std::numeric_limits<std::int32_t>::max(), false}}) {
        SCOPED_TRACE(c.storedHeight);
        const std::int64_t rows = c.storedHeight < 0 ? -std::int64_t{c.storedHeight} : c.storedHeight;
        engine::PictureReader reader(
            std::make_unique<HeaderOnlySource>(testing_support::bmpHeader(1, c.storedHeight, 24), 54 + rows * 4),
            "tall.bmp");
        reader.require24Bit();
        if (!c.refused) {
            EXPECT_NO_THROW(engine::requireCroppable(reader));
            continue;
        }
        MemorySink sink;
        for (const auto& check : std::vector<std::function<void()>>{[&] { engine::requireCroppable(reader); },
                                                                    [&] { engine::runCrop(reader, sink); }}) {
            try {
                check();
                ADD_FAILURE() << "not refused";
            } catch (const engine::EngineError& e) {
                EXPECT_EQ(e.failure(), engine::Failure::TooTall);
                EXPECT_STREQ(e.what(), "画像の高さが大きすぎます");
            }
        }
        EXPECT_EQ(sink.commits, 0);
    }
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
    control.onRows = [&](std::int64_t n, std::size_t) { rows += n; };
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
    std::int64_t rows = 0;
    engine::RunControl control;
    control.onRows = [&](std::int64_t n, std::size_t pixels) {
        EXPECT_EQ(pixels, 2048u);
        rows += n;
    };
    engine::runCrop(reader, *out, control);
    out->finish();
    EXPECT_EQ(rows, 2800);
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
#ifdef _WIN32
    // Windows refuses to cut a file while it is mapped: the copy ends whole instead.
    std::error_code refused;
    control.onRows = [&](std::int64_t, std::size_t) {
        std::filesystem::resize_file(dir.path("in.bmp"), 54 + 6144 * 2000, refused);
    };
    engine::runCrop(reader, *out, control);
    out->finish();
    EXPECT_TRUE(refused);
    EXPECT_EQ(testing_support::readFile(dir.path("out.bmp")), testing_support::expectedCrop(asymmetricPicture(2048, 2800)));
    return;
#endif
    control.onRows = [&](std::int64_t, std::size_t) { std::filesystem::resize_file(dir.path("in.bmp"), 54 + 6144 * 2000); };
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
#ifdef _WIN32
    GTEST_SKIP() << "no named pipe in the file system to hold the writer";
#else
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
#endif
}

TEST(RunAreaMaxima, AnEmptyRectangleReadsNoPixelsButPassesItsRows)
{
    auto reader = readerOf(encodeBmp(asymmetricPicture(6, 5)), 54);  // any pixel read would fail
    reader.require24Bit();
    int rows = 0;
    engine::RunControl control;
    control.onRows = [&](std::int64_t n, std::size_t pixels) {
        EXPECT_EQ(pixels, 0u);
        rows += n;
    };
    const auto max = engine::runAreaMaxima(reader, {4, 1, 3, 3}, control);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(max.red() + max.green() + max.blue(), 0);
}

}  // namespace
