#include "batch/PngWrite.h"

#include <png.h>

#include <cmath>

namespace batch {

namespace {

[[noreturn]] void onError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void onWrite(png_structp png, png_bytep data, png_size_t count)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    try {
        out->insert(out->end(), data, data + count);
    } catch (...) {
        png_error(png, "memory");
    }
}

void onFlush(png_structp) {}

// Between setjmp and a longjmp back to it only plain locals live, so that nothing is
// left unwound.
bool writePng(const RasterImage& image, int dotsPerInch, std::vector<std::uint8_t>* out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, onWrite, onFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 image.channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (dotsPerInch > 0) {
        const auto perMetre = static_cast<png_uint_32>(std::lround(dotsPerInch / 0.0254));
        png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    }
    png_set_compression_level(png, 6);
    png_write_info(png, info);
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
    for (int y = 0; y < image.height; ++y) {
        png_write_row(png, const_cast<png_bytep>(image.pixels.data() + static_cast<std::size_t>(y) * rowBytes));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::vector<std::uint8_t> encodePng(const RasterImage& image, int dotsPerInch)
{
    std::vector<std::uint8_t> out;
    if (image.width <= 0 || image.height <= 0 || (image.channels != 1 && image.channels != 3)) return {};
    if (!writePng(image, dotsPerInch, &out)) return {};
    return out;
}

}  // namespace batch
