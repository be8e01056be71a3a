#pragma once
// A white panel and a dark target picked out of a frame by rectangles: the byte counts
// of their two bands, the white and dark values they give, and the checks that tell
// whether each rectangle looks like a usable panel or target. The viewer's side panel and
// `zrvimage-batch calibrate` share these rules, so both give the same calibration for
// the same frame and rectangles.

#include "engine/formats/Rectangle.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

class PictureReader;

// How the white value is taken from the white rectangle's bytes.
enum class WhiteFrom { Maximum, Mean, Percentile99 };

// "max", "mean", "p99": the names on the command line and in the calibration file.
const char* whiteFromName(WhiteFrom from) noexcept;
std::optional<WhiteFrom> whiteFromByName(std::string_view name) noexcept;

using ByteCounts = std::array<std::uint64_t, 256>;

// The pixels of one rectangle, counted per byte value in the two bands the NDVI uses.
struct PanelPixels {
    std::uint64_t pixels = 0;
    ByteCounts nir{};  // the red byte
    ByteCounts red{};  // the green byte
};

// True when the rectangle is upright and lies wholly inside a picture of this size.
bool insidePicture(const Rectangle& r, std::int64_t width, std::int64_t height) noexcept;

// The pixels of each rectangle (each inside the picture), counted in one pass over the
// rows they span, read in blocks. Throws EngineError as the reader does.
std::vector<PanelPixels> countPixels(PictureReader& reader, std::span<const Rectangle> rectangles);

// The smallest byte v with at least ceil(0.99 n) of the n pixels at or below it
// (nearest rank); 255 when there are no pixels.
int percentile99(const ByteCounts& counts, std::uint64_t total) noexcept;

// The mean byte rounded half away from zero, in exact integer arithmetic; 0 when
// there are no pixels.
int roundedMean(const ByteCounts& counts, std::uint64_t total) noexcept;

// The white value of a band: its maximum, rounded mean or 99th percentile, limited to
// 1..255 (a white value of 0 would divide by zero).
int whiteValue(const ByteCounts& counts, std::uint64_t total, WhiteFrom from) noexcept;

// The dark value of a band: always its mean, since a dark target's highest bytes are
// noise and specks of light, kept with its fraction (the exact mean rounded once to a
// float): on a dim frame a dark value rounded to a whole byte moves every reflectance
// by up to half a byte over a span of few bytes. Limited to 0..254 so that a white
// value can lie above it; 0 when there are no pixels.
float darkValue(const ByteCounts& counts, std::uint64_t total) noexcept;

enum class PanelCheck {
    Saturated,  // pixels at 255 in either band: the panel's true brightness is unknown
    Uneven,     // a coefficient of variation above 3 % in either band
    Dim,        // a white value below 100
    // The dark target's own checks (darkChecks), after the white panel's.
    DarkSaturated,  // pixels at 255 in either band: no dark target is that bright
    DarkUneven,     // spread beyond a dark target's (kDarkUneven...)
    DarkBright,     // a dark value above half the white value in either band
};

struct PanelWarning {
    PanelCheck check;
    std::string text;  // one line, in Japanese, for the user
};

inline constexpr int kDimWhiteBelow = 100;

// The checks the white rectangle fails, in the order of PanelCheck; none for a good
// panel. nirWhite and redWhite are the white values taken from it.
std::vector<PanelWarning> panelChecks(const PanelPixels& white, int nirWhite, int redWhite);

// A dark target's spread: the mean and population standard deviation of each band and
// its pixels at 255 (counted in the bytes, before any correction).
struct DarkSpread {
    std::uint64_t pixels = 0;
    double nirMean = 0, redMean = 0;
    double nirDeviation = 0, redDeviation = 0;
    std::uint64_t nirSaturated = 0, redSaturated = 0;
};
DarkSpread darkSpread(const PanelPixels& dark);
// The same over values corrected by a flat-field (both spans of one length).
DarkSpread darkSpread(std::span<const float> nir, std::span<const float> red, std::uint64_t nirSaturated,
                      std::uint64_t redSaturated);

// A dark target is uneven when a band's standard deviation is above both 15 % of its
// mean and 2 levels. The white panel's 3 % would not do: a dark target's mean is a few
// levels, where the sensor's own noise of a level or so is already 10 % or more. The
// 2 levels keep that noise from counting; the 15 % still catches soil, leaves or the
// edge of a shadow in the rectangle, whose texture spreads far wider.
inline constexpr double kDarkUnevenPercent = 15;
inline constexpr double kDarkUnevenLevels = 2;

// The checks the dark target fails, in the order of PanelCheck (DarkSaturated,
// DarkUneven, DarkBright); none for a good target. nirDark and redDark are the dark
// values taken from it, nirWhite and redWhite the white values used with them: a dark
// value must be at most half the white value, or the line through the two is too short
// to read reflectances by (and the rectangle most likely holds no dark target).
std::vector<PanelWarning> darkChecks(const DarkSpread& dark, float nirDark, float redDark, float nirWhite,
                                     float redWhite);

}  // namespace engine
