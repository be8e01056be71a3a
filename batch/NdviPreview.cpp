#include "batch/NdviPreview.h"

#include "engine/ops/Kernels.h"
#include "engine/ops/NdviColours.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <new>

namespace batch {

namespace {

constexpr int kTransparentIndex = engine::kRampEntries;  // the marker's entry, after the ramp's

// libpng reports an error by calling this and expects it not to return: back to
// writePng()'s setjmp, without the message it would otherwise print.
[[noreturn]] void onError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void onWrite(png_structp png, png_bytep data, png_size_t count)
{
    // No exception may cross libpng's C frames: a sink that throws is a refusal.
    bool taken = false;
    try {
        taken = (*static_cast<const NdviPreview::Sink*>(png_get_io_ptr(png)))(data, count);
    } catch (...) {
    }
    if (!taken) png_error(png, "write");
}

void onFlush(png_structp) {}

// Between setjmp and a longjmp back to it only plain locals live, so that nothing is
// left unwound.
bool writePng(const std::uint8_t* pixels, int width, int rows, const NdviPreview::Sink& sink)
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
    png_set_write_fn(png, const_cast<NdviPreview::Sink*>(&sink), onWrite, onFlush);
    // Any size an int holds; libpng's own default stops at a million columns.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(rows), 8, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color palette[engine::kRampEntries + 1] = {};
    const engine::Ramp& ramp = engine::redYellowGreenRamp();
    for (int i = 0; i < engine::kRampEntries; ++i) palette[i] = {ramp[i].r, ramp[i].g, ramp[i].b};
    png_set_PLTE(png, info, palette, engine::kRampEntries + 1);
    png_byte alpha[engine::kRampEntries + 1];
    std::fill(alpha, alpha + engine::kRampEntries, png_byte{255});
    alpha[kTransparentIndex] = 0;
    png_set_tRNS(png, info, alpha, engine::kRampEntries + 1, nullptr);
    // Each row as its difference from the one above, then runs only: about half the
    // time of plain level 1 and smaller on camera-like pictures, within 1 % on noise
    // (docs/performance.md). A preview is looked at, not archived.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_compression_buffer_size(png, 1 << 20);  // fewer, larger IDAT chunks
    png_write_info(png, info);
    for (int y = 0; y < rows; ++y) png_write_row(png, pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::uint8_t paletteIndex(float value) noexcept
{
    if (value == engine::kNdviMarker) return kTransparentIndex;
    return static_cast<std::uint8_t>(engine::rampIndex(value, -1.0f, 1.0f));
}

int colourBarHeight(int pictureHeight) noexcept
{
    return std::clamp(pictureHeight / 20, 4, 32);
}

NdviPreview::NdviPreview(int width, int height)
{
    const int bar = colourBarHeight(height);
    if (width <= 0 || height <= 0 || height > INT_MAX - kColourBarGap - bar) return;
    const int rows = height + kColourBarGap + bar;
    try {
        pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows), kTransparentIndex);
    } catch (const std::bad_alloc&) {
        return;
    }
    width_ = width;
    rows_ = rows;
    std::uint8_t* barRow = pixels_.data() + static_cast<std::size_t>(height + kColourBarGap) * static_cast<std::size_t>(width);
    for (int x = 0; x < width; ++x) {
        const float value = width > 1 ? -1.0f + 2.0f * static_cast<float>(x) / static_cast<float>(width - 1) : 0.0f;
        barRow[x] = paletteIndex(value);
    }
    for (int y = height + kColourBarGap + 1; y < rows; ++y) {
        std::copy_n(barRow, width, pixels_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width));
    }
}

bool NdviPreview::valid() const noexcept
{
    return rows_ > 0;
}

void NdviPreview::setRow(int y, const float* values) noexcept
{
    std::uint8_t* line = pixels_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
    for (int x = 0; x < width_; ++x) line[x] = paletteIndex(values[x]);
}

bool NdviPreview::encode(const Sink& sink) const
{
    return valid() && writePng(pixels_.data(), width_, rows_, sink);
}

}  // namespace batch
