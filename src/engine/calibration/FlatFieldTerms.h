#pragma once
// The flat-field's own pieces that its files share (FlatField.cpp defines them): the
// gain surface's terms, the limits of a lens's fall-off and the machine's vector unit.
// Not for use outside the flat-field.

#include "engine/calibration/FlatField.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace engine::flatfield {

std::string sizeText(std::int64_t w, std::int64_t h);
inline constexpr const char* kMagic = "zrvimage-flatfield";

// The polynomial of one band at s, as rowGains evaluates it, and its column and row
// terms for a frame of this width, q being 1 / radius².
double polynomial(const GainModel& g, double s);
std::vector<double> columnTerms(const GainModel& g, std::int64_t width, double q);
double rowTerm(const GainModel& g, std::int64_t y, double q);

// What a lens can do: its fall-off is brightest about the middle of the frame and
// darkens outwards, and no lens loses more than this share of the light to the corners.
// A surface past these is the lighting or the target, and correcting by it would
// multiply the picture by a pattern that is not in the lens.
inline constexpr double kMostBoost = 8;        // the largest gain over the smallest
inline constexpr double kCentreShare = 0.9;    // the frame's centre against the largest gain
inline constexpr double kCornerAllowance = 0.01;

// A band's surface against those: the gain at the frame's centre, the largest of the
// four corners', and its range over the frame.
struct SurfaceShape {
    double centre = 0, corner = 0, low = 0, high = 0;
    bool lensLike() const
    {
        return low > 0 && high <= kMostBoost * low && centre >= kCentreShare * high && corner <= centre + kCornerAllowance;
    }
};
SurfaceShape shapeOf(const GainModel& g, std::int64_t width, std::int64_t height, double q);
// A gain surface the correction can use: finite, none far above 1, and the shape of a
// lens's fall-off.
bool usable(const GainModel& g, std::int64_t width, std::int64_t height, double q);

// AVX2 on this machine, asked once.
bool hasAvx2();

std::string oneDecimal(double v);

}  // namespace engine::flatfield
