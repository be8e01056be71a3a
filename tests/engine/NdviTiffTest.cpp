// The TIFF writer's strips, predicted and compressed on several threads, against
// libtiff: every value read back bit for bit, and the predictor's bytes equal to the
// ones libtiff's own encoder makes.

#include "engine/formats/NdviTiff.h"
#include "engine/output/OutputPath.h"

#include "BmpFixture.h"
#include "TiffRead.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Any bit pattern: NaNs with payloads, infinities, subnormals and -0 must come back as
// they went in.
std::vector<float> anyFloats(std::size_t count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<float> values(count);
    for (float& v : values) {
        const std::uint32_t bits = random();
        std::memcpy(&v, &bits, 4);
    }
    return values;
}

TEST(NdviTiff, EveryValueComesBackBitForBitWhateverTheShapeAndLevel)
{
    const struct {
        std::int64_t width, height;
        int level;
    } cases[] = {
        {1, 1, engine::kDefaultTiffLevel},
        {3, 7, 12},
        {300, 500, 1},                           // three strips, the last one short
        {2000, 2000, engine::kDefaultTiffLevel}, // 63 strips: many more than are ever in flight
        {70000, 5, 6},                           // rows longer than a strip: a row to each
    };
    for (const auto& c : cases) {
        const auto values = anyFloats(static_cast<std::size_t>(c.width * c.height), static_cast<std::uint32_t>(c.width));
        testing_support::TempDir dir;
        const auto path = dir.path("t.tif");
        {
            engine::NdviTiffWriter tiff(path.string(), c.width, c.height, "d", c.level);
            // Blocks of rows that do not line up with the strips.
            for (std::int64_t first = 0, n = 1; first < c.height; first += n, n = n * 3 + 1) {
                n = std::min(n, c.height - first);
                tiff.addRows(first, n, values.data() + first * c.width);
            }
            tiff.finish();
        }
        const auto t = testing_support::readTiff(path);
        testing_support::expectNdviTiffTags(t, static_cast<std::uint32_t>(c.width), static_cast<std::uint32_t>(c.height),
                                            "d");
        ASSERT_EQ(t.values.size(), values.size() * 4) << c.width << "x" << c.height;
        EXPECT_EQ(std::memcmp(t.values.data(), values.data(), t.values.size()), 0) << c.width << "x" << c.height;
    }
}

TEST(NdviTiff, PredictsAsLibtiffsOwnEncoderDoes)
{
    constexpr std::uint32_t width = 37, rows = 5;
    const auto values = anyFloats(width * rows, 7);
    testing_support::TempDir dir;
    const auto path = dir.path("libtiff.tif");
    TIFF* out = testing_support::openTiff(path, "w");
    ASSERT_NE(out, nullptr);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, rows);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(out, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(out, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, rows);
    std::vector<float> copy = values;  // libtiff predicts in place
    ASSERT_EQ(TIFFWriteEncodedStrip(out, 0, copy.data(), width * rows * 4), width * rows * 4);
    TIFFClose(out);

    TIFF* in = testing_support::openTiff(path, "r");
    ASSERT_NE(in, nullptr);
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(TIFFRawStripSize(in, 0)));
    ASSERT_EQ(TIFFReadRawStrip(in, 0, packed.data(), static_cast<tmsize_t>(packed.size())),
              static_cast<tmsize_t>(packed.size()));
    TIFFClose(in);
    std::vector<std::uint8_t> theirs(width * rows * 4);
    uLongf size = theirs.size();
    ASSERT_EQ(uncompress(theirs.data(), &size, packed.data(), packed.size()), Z_OK);
    ASSERT_EQ(size, theirs.size());

    std::vector<std::uint8_t> ours(theirs.size());
    engine::predictFloatRows(values.data(), width, rows, ours.data());
    EXPECT_EQ(ours, theirs);
}

// The values of a file written by one writer on a pool, as written.
void writeTiff(const std::filesystem::path& path, const std::vector<float>& values, std::int64_t width,
               std::int64_t height, engine::TiffCompressionPool& pool)
{
    engine::NdviTiffWriter tiff(path.string(), width, height, "d", engine::kDefaultTiffLevel, &pool);
    for (std::int64_t first = 0; first < height; first += 100) {
        tiff.addRows(first, std::min<std::int64_t>(100, height - first), values.data() + first * width);
    }
    tiff.finish();
}

TEST(NdviTiffPool, ManyFilesAtOnceShareItsThreadsAndSlotsAndGiveTheBytesOfOneAlone)
{
    const std::size_t cores = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 64);
    EXPECT_EQ(engine::TiffCompressionPool::shared().threads(), cores);

    constexpr std::int64_t width = 1500, height = 900;  // 21 strips
    const auto values = anyFloats(static_cast<std::size_t>(width * height), 3);
    testing_support::TempDir dir;
    engine::TiffCompressionPool alone(2);
    writeTiff(dir.path("alone.tif"), values, width, height, alone);
    const auto expected = testing_support::readFile(dir.path("alone.tif"));

    // Eight files at once on three threads; no thread past the bound, ever, nor more
    // strips than two a thread and one a writer.
    engine::TiffCompressionPool pool(3);
    {
        std::vector<std::jthread> files;
        for (int i = 0; i < 8; ++i) {
            files.emplace_back([&, i] { writeTiff(dir.path("t" + std::to_string(i) + ".tif"), values, width, height, pool); });
        }
    }
    EXPECT_GE(pool.mostLiveThreads(), 1u);
    EXPECT_LE(pool.mostLiveThreads(), 3u);
    EXPECT_LE(pool.liveThreads(), 3u);
    EXPECT_GE(pool.mostStripsInFlight(), 1u);
    EXPECT_LE(pool.mostStripsInFlight(), 6u + 8u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(testing_support::readFile(dir.path("t" + std::to_string(i) + ".tif")), expected) << i;
    const auto t = testing_support::readTiff(dir.path("t0.tif"));
    ASSERT_EQ(t.values.size(), values.size() * 4);
    EXPECT_EQ(std::memcmp(t.values.data(), values.data(), t.values.size()), 0);
}

TEST(NdviTiffPool, WritersTakingTurnsOnOneThreadNeverWaitForEachOther)
{
    constexpr std::int64_t width = 1500, height = 900;
    const auto values = anyFloats(static_cast<std::size_t>(width * height), 5);
    testing_support::TempDir dir;
    engine::TiffCompressionPool pool(2);
    std::vector<std::unique_ptr<engine::NdviTiffWriter>> writers;
    for (int i = 0; i < 3; ++i) {
        writers.push_back(std::make_unique<engine::NdviTiffWriter>(dir.path("t" + std::to_string(i) + ".tif").string(),
                                                                   width, height, "d", engine::kDefaultTiffLevel, &pool));
    }
    for (std::int64_t first = 0; first < height; first += 50) {
        for (auto& w : writers) w->addRows(first, 50, values.data() + first * width);
    }
    for (auto& w : writers) w->finish();
    writeTiff(dir.path("alone.tif"), values, width, height, pool);
    const auto expected = testing_support::readFile(dir.path("alone.tif"));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(testing_support::readFile(dir.path("t" + std::to_string(i) + ".tif")), expected) << i;
}

TEST(NdviTiffPool, AThreadThatCannotStartFailsTheFileOnlyWhenNoneRuns)
{
    constexpr std::int64_t width = 1500, height = 900;
    const auto values = anyFloats(static_cast<std::size_t>(width * height), 4);
    for (const int startable : {0, 1}) {
        int started = 0;
        engine::TiffCompressionPool pool(4, [&](std::function<void()> run) {
            if (started == startable) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            ++started;
            return std::thread(std::move(run));
        });
        testing_support::TempDir dir;
        const auto path = dir.path("t.tif");
        try {
            engine::OutputGroup group;
            engine::NdviTiffWriter tiff(group.add(path.string()), width, height, "d", engine::kDefaultTiffLevel, &pool);
            tiff.addRows(0, height, values.data());
            tiff.finish();
            group.commit();
            EXPECT_EQ(startable, 1) << "written without a thread";
            const auto t = testing_support::readTiff(path);
            ASSERT_EQ(t.values.size(), values.size() * 4);
            EXPECT_EQ(std::memcmp(t.values.data(), values.data(), t.values.size()), 0);
        } catch (const engine::TiffThreadError& e) {
            EXPECT_EQ(startable, 0) << e.what();
            EXPECT_EQ(std::string(e.what()),
                      "TIFF の圧縮に使うスレッドを起動できません（システムのスレッドかメモリが足りません）\n" + path.string());
            // Nothing left in the folder, not even a temporary.
            EXPECT_TRUE(std::filesystem::is_empty(dir.dir()));
        }
        EXPECT_EQ(pool.mostLiveThreads(), static_cast<std::size_t>(startable));
    }
}

}  // namespace
