#include "Pictures.h"

#include "engine/formats/BitmapProbe.h"
#include "engine/formats/ByteOrder.h"

#include <array>
#include <cstdio>
#include <stdexcept>
#include <memory>
#include <vector>

namespace bench {

void writePicture(const std::filesystem::path& path, PictureSize size)
{
    const auto stride = static_cast<std::size_t>(engine::rowStride(size.width));
    const auto imageBytes = static_cast<std::uint32_t>(stride * static_cast<std::size_t>(size.height));

    std::array<std::uint8_t, 54> header{};
    header[0] = 'B';
    header[1] = 'M';
    engine::storeLE32(&header[2], imageBytes + 54u);
    engine::storeLE32(&header[10], 54);
    engine::storeLE32(&header[14], 40);
    engine::storeLE32(&header[18], static_cast<std::uint32_t>(size.width));
    engine::storeLE32(&header[22], static_cast<std::uint32_t>(size.height));
    engine::storeLE16(&header[26], 1);
    engine::storeLE16(&header[28], 24);
    engine::storeLE32(&header[34], imageBytes);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) throw std::runtime_error("cannot create " + path.string());
    std::fwrite(header.data(), 1, header.size(), file.get());

    std::uint64_t state = 0x9E3779B97F4A7C15u;  // xorshift64
    std::vector<std::uint8_t> row(stride, 0);
    for (std::int32_t y = 0; y < size.height; ++y) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(size.width) * 3; ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            row[i] = static_cast<std::uint8_t>(state >> 56);
        }
        std::fwrite(row.data(), 1, row.size(), file.get());
    }
    if (std::fclose(file.release()) != 0) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace bench
