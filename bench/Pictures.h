#pragma once
// The benchmark's pictures, written to disk row by row so that even the largest one
// never sits in memory whole.

#include <cstdint>
#include <filesystem>
#include <string>

namespace bench {

struct PictureSize {
    std::int32_t width;
    std::int32_t height;
    std::string name() const { return std::to_string(width) + "x" + std::to_string(height); }
    double megapixels() const { return static_cast<double>(width) * height / 1e6; }
};

// A 24-bit BMP of that size filled with pseudo-random bytes (the same for every run),
// so that every (NIR, red) pair and every maximum occurs.
void writePicture(const std::filesystem::path& path, PictureSize size);

}  // namespace bench
