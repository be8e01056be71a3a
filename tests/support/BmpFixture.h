#pragma once
// Pictures made in code for the tests, and small file helpers.

#include "engine/platform/Platform.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
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

// How a writer lays out its file: other programs write newer info headers (108 or
// 124 bytes), leave gaps before the pixels, store rows top-down or leave off the
// last row's padding.
struct BmpLayout {
    std::uint16_t bitCount = 24;
    std::uint32_t infoSize = 40;
    std::uint32_t gap = 0;  // bytes between the headers and the pixels
    bool topDown = false;   // rows top row first, the height stored negative
    bool lastRowUnpadded = false;
};

// A complete BMP of the picture (bottom-up rows padded to 4 bytes by default).
std::vector<std::uint8_t> encodeBmp(const Picture& picture, const BmpLayout& layout);
std::vector<std::uint8_t> encodeBmp(const Picture& picture, std::uint16_t bitCount = 24);

// A BMP header alone with the given values, for gate and probe tests.
std::vector<std::uint8_t> bmpHeader(std::int32_t width, std::int32_t height, std::uint16_t bitCount);

// The pixels of a 24-bit BMP as the format defines them: width and height from the
// header, rows from bfOffBits, bottom-up or (negative height) top-down. Bytes missing
// at the end of the file read as zero.
Picture decodeBmp(const std::vector<std::uint8_t>& bytes);

// Little-endian header values, and a file cut to a length.
void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v);
void put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t v);
std::uint32_t get32(const std::vector<std::uint8_t>& bytes, std::size_t at);
std::vector<std::uint8_t> cut(std::vector<std::uint8_t> bytes, std::size_t size);

std::vector<std::uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

#ifndef _WIN32  // no named pipes in the file system there
// The reading end of a named pipe that holds its writer: made at path, read from
// only once release is set (or after ten seconds, so that a writer never released
// ends the test instead of hanging it), then to the end. Its bytes come back when
// the writer closes.
class HeldPipe {
public:
    explicit HeldPipe(std::filesystem::path path);
    ~HeldPipe();
    HeldPipe(const HeldPipe&) = delete;
    HeldPipe& operator=(const HeldPipe&) = delete;

    void release() { released_ = true; }
    std::vector<std::uint8_t> bytes();  // waits for the writer to close

private:
    std::filesystem::path path_;
    std::atomic<bool> released_{false};
    std::vector<std::uint8_t> bytes_;
    std::thread reader_;
};
#endif

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // name in UTF-8, whatever the system's narrow code page.
    std::filesystem::path path(const std::string& name) const { return dir_ / engine::platform::pathOf(name); }
    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

// Pictures that show row-order, padding, width and empty-picture faults, and the
// layouts other programs write (top-down rows, 108- and 124-byte info headers, a gap
// before the pixels, an unpadded last row); written as frame01.bmp, frame02.bmp, ...
// in dir.
std::vector<std::filesystem::path> writeFrames(const TempDir& dir);

}  // namespace testing_support
