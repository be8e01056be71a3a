#include "engine/calibration/FlatField.h"

#include "engine/calibration/FlatFieldTerms.h"
#include "engine/formats/NdviTiff.h"
#include "engine/output/OutputPath.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace engine {

using namespace flatfield;

FlatField FlatField::read(const std::string& path)
{
    quietLibtiff();
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) throw FlatFieldError("周辺減光補正ファイルを開けません", path);
    std::unique_ptr<TIFF, void (*)(TIFF*)> closer(tiff, TIFFClose);
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 0, bits = 0, format = SAMPLEFORMAT_UINT;
    const char* description = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    if (samples != 2 || bits != 32 || format != SAMPLEFORMAT_IEEEFP
        || TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description) != 1 || !description) {
        throw FlatFieldError("周辺減光補正ファイルではありません（2 バンドの float32 TIFF ではありません）", path);
    }
    FlatFieldModel model = parseFlatFieldDescription(description, path);
    if (model.width != width || model.height != height) {
        throw FlatFieldError("周辺減光補正ファイルの説明の大きさ (" + sizeText(model.width, model.height)
                                 + ") が画像の大きさ (" + sizeText(width, height) + ") と違います",
                             path);
    }
    return FlatField(model, path);
}

// --- The file -----------------------------------------------------------------------

namespace {

// The TIFF is made in memory and placed whole by the output path.
struct MemoryTiff {
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
};

MemoryTiff& memoryOf(thandle_t h)
{
    return *static_cast<MemoryTiff*>(h);
}

tmsize_t memoryRead(thandle_t h, void* data, tmsize_t size)
{
    MemoryTiff& m = memoryOf(h);
    const std::size_t n = std::min(static_cast<std::size_t>(size), m.bytes.size() - std::min(m.at, m.bytes.size()));
    std::memcpy(data, m.bytes.data() + m.at, n);
    m.at += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t memoryWrite(thandle_t h, void* data, tmsize_t size)
{
    MemoryTiff& m = memoryOf(h);
    const auto n = static_cast<std::size_t>(size);
    if (m.bytes.size() < m.at + n) m.bytes.resize(m.at + n);
    std::memcpy(m.bytes.data() + m.at, data, n);
    m.at += n;
    return size;
}

toff_t memorySeek(thandle_t h, toff_t offset, int whence)
{
    MemoryTiff& m = memoryOf(h);
    const std::int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<std::int64_t>(m.at)
                                                                          : static_cast<std::int64_t>(m.bytes.size());
    const std::int64_t to = base + static_cast<std::int64_t>(offset);
    if (to < 0) return static_cast<toff_t>(-1);
    m.at = static_cast<std::size_t>(to);
    return static_cast<toff_t>(to);
}

int memoryClose(thandle_t)
{
    return 0;
}

toff_t memorySize(thandle_t h)
{
    return memoryOf(h).bytes.size();
}

int memoryMap(thandle_t, void**, toff_t*)
{
    return 0;
}

void memoryUnmap(thandle_t, void*, toff_t) {}

}  // namespace

void writeFlatField(const std::string& path, const FlatFieldModel& model)
{
    quietLibtiff();
    MemoryTiff memory;
    TIFF* tiff = TIFFClientOpen(path.c_str(), "w", &memory, memoryRead, memoryWrite, memorySeek, memoryClose, memorySize,
                                memoryMap, memoryUnmap);
    if (!tiff) throw EngineError(Failure::CannotCreateOutput, path);
    const auto width = static_cast<std::uint32_t>(model.width);
    const std::uint32_t rowsPerStrip = std::max<std::uint32_t>(1, (256u << 10) / (width * 8));
    const std::string description = flatFieldDescription(model);
    const std::uint16_t extra[] = {EXTRASAMPLE_UNSPECIFIED};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(model.height));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 2);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    TIFFSetField(tiff, TIFFTAG_SOFTWARE, "zrvimage");
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    const FlatField flat(model);
    std::vector<float> nir(width), red(width), strip(static_cast<std::size_t>(rowsPerStrip) * width * 2);
    bool ok = true;
    std::uint32_t held = 0;
    tstrip_t next = 0;
    const auto flush = [&] {
        const auto bytes = static_cast<tmsize_t>(held) * width * 8;
        if (held > 0 && TIFFWriteEncodedStrip(tiff, next++, strip.data(), bytes) != bytes) ok = false;
        held = 0;
    };
    for (std::int64_t y = 0; y < model.height; ++y) {
        flat.rowGains(y, nir.data(), red.data());
        float* at = strip.data() + static_cast<std::size_t>(held) * width * 2;
        for (std::uint32_t x = 0; x < width; ++x) {
            at[2 * x] = nir[x];
            at[2 * x + 1] = red[x];
        }
        if (++held == rowsPerStrip) flush();
    }
    flush();
    ok = TIFFFlush(tiff) == 1 && ok;
    TIFFClose(tiff);
    if (!ok) throw EngineError(Failure::WriteFailed, path);
    writeWholeFile(path, memory.bytes);
}

}  // namespace engine
