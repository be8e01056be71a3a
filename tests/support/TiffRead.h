#pragma once
// A float32 TIFF read back with libtiff, tags and values, for the tests of every
// program that writes one.

#include "engine/formats/NdviTiff.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct TiffRead {
    bool opened = false;
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samples = 0, format = 0, compression = 0, predictor = 0;
    std::string noData, description;
    std::vector<std::uint8_t> values;  // float32 as the raw holds them, top row first, samples interleaved
};

// libtiff's own open, by the path's native spelling (UTF-16 on Windows).
inline TIFF* openTiff(const std::filesystem::path& path, const char* mode)
{
#ifdef _WIN32
    return TIFFOpenW(path.c_str(), mode);
#else
    return TIFFOpen(path.c_str(), mode);
#endif
}

inline TiffRead readTiff(const std::filesystem::path& path)
{
    TiffRead t;
    engine::installGdalTags();  // else the no-data tag reads back as an unknown one
    TIFF* tiff = openTiff(path, "r");
    if (!tiff) return t;
    t.opened = true;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &t.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &t.height);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &t.bits);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
    TIFFGetField(tiff, TIFFTAG_SAMPLEFORMAT, &t.format);
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &t.compression);
    TIFFGetField(tiff, TIFFTAG_PREDICTOR, &t.predictor);
    char* text = nullptr;
    if (TIFFGetField(tiff, engine::kGdalNoDataTag, &text) && text) t.noData = text;
    if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &text) && text) t.description = text;
    std::vector<float> row(static_cast<std::size_t>(t.width) * std::max<std::uint16_t>(t.samples, 1));
    for (std::uint32_t y = 0; y < t.height; ++y) {
        if (TIFFReadScanline(tiff, row.data(), y, 0) != 1) break;
        const auto* b = reinterpret_cast<const std::uint8_t*>(row.data());
        t.values.insert(t.values.end(), b, b + row.size() * 4);
    }
    TIFFClose(tiff);
    return t;
}

// The tags every NDVI TIFF carries: one float32 band of this size, DEFLATE with the
// floating-point predictor, -10 as no data, and the model as its description.
inline void expectNdviTiffTags(const TiffRead& t, std::uint32_t width, std::uint32_t height,
                               const std::string& description)
{
    ASSERT_TRUE(t.opened);
    EXPECT_EQ(t.width, width);
    EXPECT_EQ(t.height, height);
    EXPECT_EQ(t.bits, 32);
    EXPECT_EQ(t.samples, 1);
    EXPECT_EQ(t.format, SAMPLEFORMAT_IEEEFP);
    EXPECT_EQ(t.compression, COMPRESSION_ADOBE_DEFLATE);
    EXPECT_EQ(t.predictor, PREDICTOR_FLOATINGPOINT);
    EXPECT_EQ(t.noData, "-10");
    EXPECT_EQ(t.description, description);
}

}  // namespace testing_support
