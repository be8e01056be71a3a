#pragma once
// The operations' pixel work, on rows in memory: no files, no windows.
//
// NDVI per pixel: red = g / redWhite and nir = r / nirWhite, each rounded to float32
// and capped at 1.0 from above only; then (nir - red) / (nir + red) in x87 extended
// precision, rounded once to float32; -10.0 where nir + red is 0. A white value of 0
// makes the first division a floating-point error: EInvalidOp when the byte is 0 too,
// EZeroDivide otherwise.

#include "engine/calibration/Calibration.h"
#include "engine/formats/Rectangle.h"
#include "engine/ops/VegetationIndex.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

// The plain per-pixel formula; the reference every faster path must match bit for bit.
float ndviPixel(std::uint8_t nirByte, std::uint8_t redByte, float nirWhite, float redWhite);

// The reflectance of one byte under one band's calibration (Calibration.h): the plain
// ratio exactly as ndviPixel computes it, or the empirical line limited to 0..1.
float bandReflectance(std::uint8_t byte, const BandCalibration& band);

// NDVI of two reflectances: (nir - red) / (nir + red) in extended precision rounded
// once to float32, -10 where they add up to 0.
float ndviOfReflectances(float nir, float red);

// Every (NIR byte, red byte) pair computed once by ndviPixel, for one pair of white
// values, or by a calibration model. Needs both white values non-zero; a model must
// have passed modelProblem().
class NdviTable {
public:
    NdviTable(float nirWhite, float redWhite);
    explicit NdviTable(const NdviModel& model);
    // Another index of the model's reflectances (indexOfReflectances); NDVI is the
    // table above.
    NdviTable(const NdviModel& model, const VegetationIndex& index);
    float operator()(std::uint8_t nirByte, std::uint8_t redByte) const noexcept
    {
        return values_[static_cast<std::size_t>(nirByte) << 8 | redByte];
    }
    // One row: pixels of 3 bytes (blue, green, red) to count values.
    void row(const std::uint8_t* pixels, std::size_t count, float* out) const noexcept
    {
        // Four pixels a round: the look-ups miss the first-level cache, and four
        // independent ones in flight with one loop count among them measured 4-6 %
        // faster than one at a time.
        const float* v = values_.data();
        const auto index = [](const std::uint8_t* p) { return static_cast<std::size_t>(p[2]) << 8 | p[1]; };
        std::size_t j = 0;
        for (; j + 4 <= count; j += 4, pixels += 12) {
            const float a = v[index(pixels)], b = v[index(pixels + 3)], c = v[index(pixels + 6)], d = v[index(pixels + 9)];
            out[j] = a;
            out[j + 1] = b;
            out[j + 2] = c;
            out[j + 3] = d;
        }
        for (; j < count; ++j, pixels += 3) out[j] = v[index(pixels)];
    }

private:
    std::vector<float> values_;
};

// The largest blue, green and red bytes seen so far, each starting at 0.
class ChannelMaxima {
public:
    // Takes in count pixels of 3 bytes each (blue, green, red) from pixels.
    void scan(const std::uint8_t* pixels, std::size_t count) noexcept;
    int blue() const noexcept { return max_[0]; }
    int green() const noexcept { return max_[1]; }
    int red() const noexcept { return max_[2]; }
    // Takes in what another scan found.
    void merge(const ChannelMaxima& other) noexcept
    {
        for (std::size_t i = 0; i < max_.size(); ++i) max_[i] = std::max(max_[i], other.max_[i]);
    }

private:
    std::array<std::uint8_t, 3> max_{};
};

inline constexpr std::int32_t kCropWidth = 2048;
inline constexpr std::int64_t kCropRowBytes = 6144;  // rowStride(2048)

// The crop's 54-byte file and info header for a picture of this many rows.
std::array<std::uint8_t, 54> cropHeader(std::int32_t height) noexcept;

}  // namespace engine
