#pragma once
// A white panel and a dark target picked out of a frame by rectangles: the byte counts
// of their two bands, the white and dark values they give, and the checks that tell
// whether the white rectangle looks like a usable panel. The viewer's side panel and
// `zrvimage-batch calibrate` share these rules, so both give the same calibration for
// the same frame and rectangles.

#include "engine/Kernels.h"

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

// The dark value of a band: always its rounded mean, since a dark target's highest
// bytes are noise and specks of light; limited to 0..254 so that a white value can
// lie above it.
int darkValue(const ByteCounts& counts, std::uint64_t total) noexcept;

enum class PanelCheck {
    Saturated,  // pixels at 255 in either band: the panel's true brightness is unknown
    Uneven,     // a coefficient of variation above 3 % in either band
    Dim,        // a white value below 100
};

struct PanelWarning {
    PanelCheck check;
    std::string text;  // one line, in Japanese, for the user
};

inline constexpr int kDimWhiteBelow = 100;

// The checks the white rectangle fails, in the order of PanelCheck; none for a good
// panel. nirWhite and redWhite are the white values taken from it.
std::vector<PanelWarning> panelChecks(const PanelPixels& white, int nirWhite, int redWhite);

}  // namespace engine
