#pragma once
// Pictures made in code for the tests, and small file helpers.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct Pixel {
    std::uint8_t b, g, r;
};

// A picture in image order: pixels[y * width + x], y = 0 the top row.
struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<Pixel> pixels;
    Pixel at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// 6 x 5 with every byte distinct per position and red != blue everywhere, so row
// order, byte order and padding faults all show.
Picture asymmetricPicture(std::int32_t width = 6, std::int32_t height = 5);

// A complete 24-bit BMP (54-byte header, bottom-up rows padded to 4 bytes).
std::vector<std::uint8_t> encodeBmp(const Picture& picture, std::uint16_t bitCount = 24);

// A BMP header alone with the given values, for gate and probe tests.
std::vector<std::uint8_t> bmpHeader(std::int32_t width, std::int32_t height, std::uint16_t bitCount);

// The pixels of a 24-bit BMP as the operations take them: width and height from the
// header, bottom-up rows from byte 54 whatever bfOffBits says, and bytes missing at
// the end of the file read as zero. Gives the expected picture of a truncated file.
Picture decodeBmp(const std::vector<std::uint8_t>& bytes);

std::vector<std::uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path path(const std::string& name) const { return dir_ / name; }
    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

}  // namespace testing_support
