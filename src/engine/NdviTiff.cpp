#include "engine/NdviTiff.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace engine {

namespace {

// Rows per strip: about 256 KiB of floats, as GDAL likes them, at least one row.
std::uint32_t stripRows(std::int64_t width)
{
    return static_cast<std::uint32_t>(std::max<std::int64_t>(1, (std::int64_t{256} << 10) / (width * 4)));
}

// libtiff reports through handlers that print to standard error; its return values
// say everything the writer needs.
void quiet(const char*, const char*, va_list) {}

}  // namespace

namespace {

TIFFExtendProc previousExtender = nullptr;

void extendWithGdalTags(TIFF* tiff)
{
    static const TIFFFieldInfo fields[] = {
        {static_cast<ttag_t>(kGdalNoDataTag), -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALNoDataValue")},
    };
    TIFFMergeFieldInfo(tiff, fields, 1);
    if (previousExtender) previousExtender(tiff);
}

}  // namespace

void installGdalTags()
{
    // Once per process, before any file is opened: a tag the library does not know
    // when it reads a directory is kept as an anonymous one of another shape.
    static const bool installed = [] {
        previousExtender = TIFFSetTagExtender(extendWithGdalTags);
        return true;
    }();
    (void)installed;
}

struct NdviTiffWriter::State {
    TIFF* tiff = nullptr;
    std::string path;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t rowsPerStrip = 1;
    std::vector<float> strip;   // the strip being filled
    std::int64_t stripRowsHeld = 0;
    tstrip_t nextStrip = 0;
    std::int64_t nextRow = 0;
    bool failed = false;

    void fail()
    {
        failed = true;
        throw EngineError(Failure::WriteFailed, path);
    }

    void flushStrip()
    {
        if (stripRowsHeld == 0) return;
        const auto bytes = static_cast<tmsize_t>(stripRowsHeld * width * 4);
        if (TIFFWriteEncodedStrip(tiff, nextStrip++, strip.data(), bytes) != bytes) fail();
        stripRowsHeld = 0;
    }
};

NdviTiffWriter::NdviTiffWriter(const std::string& path, std::int64_t width, std::int64_t height,
                               const std::string& description)
    : state_(std::make_unique<State>())
{
    TIFFSetErrorHandler(quiet);
    TIFFSetWarningHandler(quiet);
    State& s = *state_;
    s.path = path;
    s.width = width;
    s.height = height;
    // Classic TIFF up to 4 GB of data, BigTIFF beyond.
    const bool big = width * height * 4 > (std::int64_t{4000} << 20);
    installGdalTags();
    s.tiff = TIFFOpen(path.c_str(), big ? "w8" : "w");
    if (!s.tiff) throw EngineError(Failure::CannotCreateOutput, path);
    s.rowsPerStrip = stripRows(width);
    TIFFSetField(s.tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
    TIFFSetField(s.tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
    TIFFSetField(s.tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(s.tiff, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(s.tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(s.tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(s.tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(s.tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(s.tiff, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT);
    TIFFSetField(s.tiff, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip);
    TIFFSetField(s.tiff, TIFFTAG_SOFTWARE, "zrvimage");
    if (!description.empty()) TIFFSetField(s.tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    TIFFSetField(s.tiff, kGdalNoDataTag, "-10");
    s.strip.resize(static_cast<std::size_t>(s.rowsPerStrip * width));
}

NdviTiffWriter::~NdviTiffWriter()
{
    if (state_->tiff) TIFFClose(state_->tiff);
}

void NdviTiffWriter::addRows(std::int64_t first, std::int64_t count, const float* values)
{
    State& s = *state_;
    if (s.failed || first != s.nextRow) s.fail();
    for (std::int64_t i = 0; i < count; ++i) {
        std::memcpy(s.strip.data() + s.stripRowsHeld * s.width, values + i * s.width, static_cast<std::size_t>(s.width) * 4);
        if (++s.stripRowsHeld == s.rowsPerStrip) s.flushStrip();
    }
    s.nextRow += count;
}

void NdviTiffWriter::finish()
{
    State& s = *state_;
    if (s.failed || s.nextRow != s.height) s.fail();
    s.flushStrip();
    // The directory goes out with the flush; a failure there is a failed write too.
    const bool written = TIFFFlush(s.tiff) == 1;
    TIFFClose(s.tiff);
    s.tiff = nullptr;
    if (!written) s.fail();
}

}  // namespace engine
