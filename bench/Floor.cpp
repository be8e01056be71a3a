#include "Floor.h"

#include "bitmap/BitmapProbe.h"
#include "bitmap/Crop2048.h"
#include "bitmap/ByteOrder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <time.h>
#include <vector>

namespace bench {

const char* operationName(Operation op)
{
    switch (op) {
    case Operation::Crop: return "crop";
    case Operation::Maxima: return "area maxima";
    case Operation::Ndvi: return "NDVI";
    }
    return "?";
}

namespace {

bitmap::FilePtr openFile(const std::filesystem::path& path, const char* mode)
{
    bitmap::FilePtr file(std::fopen(path.c_str(), mode));
    if (!file) throw std::runtime_error("cannot open " + path.string());
    return file;
}

void readAt(std::FILE* f, std::int64_t offset, void* buffer, std::size_t size)
{
    ::fseeko(f, static_cast<off_t>(offset), SEEK_SET);
    std::fread(buffer, 1, size, f);
}

void writeAt(std::FILE* f, std::int64_t offset, const void* data, std::size_t size)
{
    ::fseeko(f, static_cast<off_t>(offset), SEEK_SET);
    std::fwrite(data, 1, size, f);
}

}  // namespace

Moment Moment::now()
{
    timespec wall{};
    timespec cpu{};
    ::clock_gettime(CLOCK_MONOTONIC, &wall);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    return {static_cast<double>(wall.tv_sec) + static_cast<double>(wall.tv_nsec) * 1e-9,
            static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) * 1e-9};
}

Seconds runFloor(Operation op, const std::filesystem::path& input, const std::filesystem::path& output)
{
    const Moment start = Moment::now();
    auto in = openFile(input, "rb");
    // Width and height, read the way the operations' probe reads them.
    std::uint8_t head[8];
    readAt(in.get(), 18, head, sizeof head);
    const std::int64_t width = static_cast<std::int32_t>(bitmap::loadLE32(head));
    const std::int64_t height = static_cast<std::int32_t>(bitmap::loadLE32(head + 4));
    const std::int64_t stride = bitmap::rowStride(width);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(std::max<std::int64_t>(stride, bitmap::kCropRowBytes)));

    switch (op) {
    case Operation::Crop: {
        auto out = openFile(output, "wb");
        writeAt(out.get(), 0, row.data(), 54);
        for (std::int64_t k = 0; k < height; ++k) {
            readAt(in.get(), bitmap::kPixelDataOffset + k * stride, row.data(), static_cast<std::size_t>(stride));
            writeAt(out.get(), bitmap::kPixelDataOffset + k * bitmap::kCropRowBytes, row.data(), bitmap::kCropRowBytes);
        }
        std::fclose(out.release());
        break;
    }
    case Operation::Maxima:
        for (std::int64_t y = 0; y < height; ++y) {
            readAt(in.get(), bitmap::imageRowOffset(height, stride, y), row.data(), static_cast<std::size_t>(stride));
        }
        break;
    case Operation::Ndvi: {
        auto out = openFile(output, "wb");
        std::vector<float> values(static_cast<std::size_t>(width));
        const auto rowBytes = values.size() * sizeof(float);
        for (std::int64_t i = 0; i < height; ++i) {
            readAt(in.get(), bitmap::imageRowOffset(height, stride, i), row.data(), static_cast<std::size_t>(stride));
            writeAt(out.get(), i * static_cast<std::int64_t>(rowBytes), values.data(), rowBytes);
        }
        std::fclose(out.release());
        break;
    }
    }
    std::fclose(in.release());
    return Moment::now() - start;
}

}  // namespace bench
