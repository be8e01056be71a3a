// A picture of more than 4 GiB: its rows past the 32-bit offsets are read where they
// are (on Windows, offsets go to the system's calls whole, never through a 32-bit long).

#include "engine/formats/PictureReader.h"
#include "engine/ops/Runs.h"
#include "engine/platform/Platform.h"

#include "BmpFixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

namespace {

TEST(LargePicture, RowsPastFourGibibytesAreReadWhereTheyAre)
{
    constexpr std::int64_t width = 2048, height = 700'000;  // 6144-byte rows: 4.3 GB
    constexpr std::int64_t rowBytes = width * 3;
    constexpr std::int64_t pixels = 54;
    testing_support::TempDir dir;
    const auto path = dir.path("large.bmp");
    testing_support::writeFile(path, testing_support::bmpHeader(width, height, 24));
    // Sparse: only the planted bytes take room on the disk.
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(pixels + rowBytes * height));

    // Bottom-up rows: the top one is stored last, past 4 GiB. One pixel there, and one
    // whose bytes begin exactly at 2^32, where a 32-bit offset would wrap to the
    // headers.
    const std::int64_t wrap = std::int64_t{1} << 32;
    const std::int64_t wrapRow = (wrap - pixels) / rowBytes;  // stored index
    const std::int64_t wrapColumn = (wrap - pixels - wrapRow * rowBytes) / 3;
    const std::int64_t wrapAt = pixels + wrapRow * rowBytes + wrapColumn * 3;
    const std::int64_t wrapY = height - 1 - wrapRow;
    const std::int64_t topAt = pixels + (height - 1) * rowBytes + 5 * 3;
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(topAt);
        file.write("\x11\x22\x33", 3);  // blue, green, red of pixel (5, 0)
        file.seekp(wrapAt);
        file.write("\x44\x05\x06", 3);  // blue 0x44 of the pixel at the wrap
        ASSERT_TRUE(file.good());
    }

    auto reader = engine::PictureReader::open(engine::platform::utf8Of(path));
    reader.require24Bit();
    const auto top = engine::runAreaMaxima(reader, {0, 0, width - 1, 0});
    EXPECT_EQ(top.red(), 0x33);
    EXPECT_EQ(top.green(), 0x22);
    EXPECT_EQ(top.blue(), 0x11);
    const auto around = engine::runAreaMaxima(reader, {wrapColumn, wrapY - 1, wrapColumn, wrapY + 1});
    EXPECT_EQ(around.red(), 6);
    EXPECT_EQ(around.green(), 5);
    EXPECT_EQ(around.blue(), 0x44);
}

}  // namespace
