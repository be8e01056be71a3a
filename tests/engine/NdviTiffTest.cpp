// The TIFF writer's strips, predicted and compressed on several threads, against
// libtiff: every value read back bit for bit, and the predictor's bytes equal to the
// ones libtiff's own encoder makes.

#include "engine/NdviTiff.h"

#include "BmpFixture.h"
#include "TiffRead.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
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

}  // namespace
