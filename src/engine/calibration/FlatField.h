#pragma once
// The lens's fall-off taken out of each band before any reflectance: a flat-field,
// fitted from frames of an evenly lit white target, and how a frame's bytes are
// corrected by it.
//
// The gain model, per band (NIR = the red byte, Red = the green byte): a radial
// polynomial in the squared distance from a free centre,
//
//     s(x, y)    = (x - cx)^2 / R^2 + (y - cy)^2 / R^2
//     gain(x, y) = c0 * (1 + k1 s + k2 s^2 + k3 s^3)
//
// with x the column and y the row from the top left (pixel indices), R the half
// diagonal of the frame, and c0 such that the largest gain over the frame's pixels is
// 1. A lens's vignetting is radially symmetric about its optical axis, which need not
// be the frame's centre and differs per band: four shape numbers and a centre follow
// it to the corners with nothing to ring between the fitted points, where a 2-D
// polynomial of the same smoothness needs many more terms.
//
// Evaluation, for a row y (FlatField::rowGains), in double arithmetic with no fused
// multiply-add, each step rounded as written:
//     u[x] = ((x - cx) * (x - cx)) * q        (q = 1 / R^2; u per column, made once)
//     v    = ((y - cy) * (y - cy)) * q
//     s    = u[x] + v
//     p    = 1 + (k1 + (k2 + k3 * s) * s) * s
//     gain = float(c0 * p)
//
// The correction of one byte DN of a band with offset o (the sensor's dark level, 0
// without a dark frame) and gain g, in float32, each operation rounded to float32:
//     corrected = o + (float(DN) - o) / g
// Then the band's reflectance under its BandCalibration (Calibration.h), in float32:
//     slope = float((double(rWhite) - rDark) / (double(dnWhite) - dnDark))
//     r     = rDark + (corrected - dnDark) * slope, then r > 0 ? r : 0, then r < 1 ? r : 1
// and the NDVI of the two reflectances, in float32: -10 where nir + red is 0, else
// (nir - red) / (nir + red). correctedNdviPixel() is that reference; every faster path
// (CorrectedNdviRows) gives the same bits.
//
// A white panel and a dark target are read from corrected values (the rules of
// Panel.h over floats): the white value is their maximum, their mean (summed in double,
// rounded to float) or their 99th percentile (nearest rank: the value at position
// ceil(0.99 n) of the n values sorted ascending), at least 1; the dark value always
// their mean, at least 0. Neither is rounded to a whole number nor capped at 255: a
// corrected value lies above its byte wherever the gain is below 1.
//
// The flat-field file is a float32 TIFF of two bands (NIR gain, Red gain), pixel
// interleaved, at the frames' size, with the model in its ImageDescription as text
// (flatFieldDescription): GIS programs show the gains, and FlatField::read takes the
// model from the text and evaluates it row by row, so the pixels never need reading.

#include "engine/calibration/Calibration.h"
#include "engine/calibration/Panel.h"
#include "engine/platform/RunControl.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

class PictureReader;

// A flat-field that cannot be made or used: what is wrong (Japanese, for the user), and
// the file it concerns.
class FlatFieldError : public std::runtime_error {
public:
    FlatFieldError(std::string problem, std::string path);
    const std::string& problem() const noexcept { return problem_; }
    const std::string& path() const noexcept { return path_; }

private:
    std::string problem_;
    std::string path_;
};

// One band's gain surface and what its fit recorded.
struct GainModel {
    double cx = 0, cy = 0;      // the centre, in pixel coordinates
    double k1 = 0, k2 = 0, k3 = 0;
    double c0 = 1;              // 1 over the largest polynomial value over the frame
    float offset = 0;           // the dark frame's mean of this band; 0 without one
    double cornerFalloff = 0;   // 100 (1 - the smallest of the four corner gains), %
    double rmsResidual = 0;     // the fit's RMS residual over the block means, % of the fit
    friend bool operator==(const GainModel&, const GainModel&) = default;
};

struct FlatFieldModel {
    std::int64_t width = 0, height = 0;
    GainModel nir;  // the red byte
    GainModel red;  // the green byte
    // R: the half diagonal, sqrt(width^2 + height^2) / 2.
    double radius() const;
    friend bool operator==(const FlatFieldModel&, const FlatFieldModel&) = default;
};

// A model the correction can use: finite numbers, offsets from 0 to below 255, and per
// band the shape of a lens's fall-off: no gain over the frame above 1.001, the smallest
// at least an eighth of the largest, the gain at the frame's centre at least 0.9 of the
// largest and none of the four corners' above the centre's by more than 0.01.
// parseFlatFieldDescription refuses any other, and fitFlatField makes no other.
//
// The ImageDescription text: readable lines with every number written as the shortest
// text that reads back as the same double (or float, for the offsets), e.g.
//   zrvimage-flatfield 1
//   size 2048 1536
//   gain = c0 * (1 + k1*s + k2*s^2 + k3*s^3), s = ((x-cx)^2 + (y-cy)^2) / R^2, ...
//   NIR offset=3.5 cx=1010.2 cy=770.8 k1=-0.61 k2=0.12 k3=-0.02 c0=1 falloff=41.3 rms=0.4
//   Red offset=...
std::string flatFieldDescription(const FlatFieldModel& model);
// The model back from that text; throws FlatFieldError naming path when it is not one.
FlatFieldModel parseFlatFieldDescription(std::string_view text, const std::string& path);

class FlatField {
public:
    // Reads the TIFF's tags and description (not its pixels). Throws FlatFieldError
    // naming path when the file cannot be opened, is not a TIFF of two float32 bands,
    // or its description is not a model of its size.
    static FlatField read(const std::string& path);
    explicit FlatField(FlatFieldModel model, std::string path = {});

    const std::string& path() const noexcept { return path_; }
    const FlatFieldModel& model() const noexcept { return model_; }
    std::int64_t width() const noexcept { return model_.width; }
    std::int64_t height() const noexcept { return model_.height; }

    // The gains of row y, width() values per band, as the header above defines them.
    void rowGains(std::int64_t y, float* nir, float* red) const;

    // "周辺減光補正ファイル (W×H) と画像 (W×H) の大きさが違います" with both sizes,
    // when a frame of this size cannot use it; nothing when it can.
    std::optional<std::string> sizeProblem(std::int64_t frameWidth, std::int64_t frameHeight) const;
    // Throws FlatFieldError naming the frame when sizeProblem() has one.
    void requireSize(std::int64_t frameWidth, std::int64_t frameHeight, const std::string& framePath) const;

private:
    void bandRow(const GainModel& band, const std::vector<double>& u, std::int64_t y, float* out) const;
    FlatFieldModel model_;
    std::string path_;
    std::vector<double> nirU_, redU_;  // u[x] per column
};

// --- Per pixel ------------------------------------------------------------------

float correctedValue(std::uint8_t dn, float gain, float offset);
float correctedReflectance(float corrected, const BandCalibration& band);
float correctedNdvi(float nir, float red);
// The reference for one pixel: both bands corrected, their reflectances, the NDVI.
float correctedNdviPixel(std::uint8_t nirByte, std::uint8_t redByte, float nirGain, float redGain,
                         const FlatFieldModel& flat, const NdviModel& model);

// The corrected NDVI of whole rows, bit for bit correctedNdviPixel, fast: the gains of
// each row from the model, then eight pixels a step where the machine has AVX2 (one by
// one through the reference elsewhere).
class CorrectedNdviRows {
public:
    // model must have passed modelProblem(); flat must outlive this.
    CorrectedNdviRows(const FlatField& flat, const NdviModel& model);
    // Row y from the top of a frame of flat's width: pixels of 3 bytes (blue, green,
    // red) in, width() NDVI values out.
    void row(std::int64_t y, const std::uint8_t* pixels, float* out);

private:
    const FlatField& flat_;
    float nirSlope_, redSlope_, nirDark_, redDark_, nirRDark_, redRDark_;
    std::vector<float> nirGain_, redGain_;
    NdviModel model_;
};

// Corrected values of both bands for columns x .. x + count - 1 of row y.
void correctedBands(const FlatField& flat, std::int64_t y, std::int64_t x, std::size_t count,
                    const std::uint8_t* pixels, float* nir, float* red);

// --- Panels -----------------------------------------------------------------------

// A rectangle's pixels corrected, row by row, left to right; the saturated counts are of
// the bytes (255) before correction.
struct CorrectedPixels {
    std::vector<float> nir, red;
    std::uint64_t nirSaturated = 0, redSaturated = 0;
    std::uint64_t pixels() const noexcept { return nir.size(); }
};

// Each rectangle (each inside the picture) corrected, read in one pass over the rows
// they span. The picture must be flat's size.
std::vector<CorrectedPixels> correctedPixels(PictureReader& reader, const FlatField& flat,
                                             std::span<const Rectangle> rectangles);
// The same over a frame in memory: row(y) gives image row y from the top, width * 3
// bytes of blue, green, red.
using FlatRowAccess = std::function<const std::uint8_t*(std::int64_t y)>;
std::vector<CorrectedPixels> correctedPixels(const FlatRowAccess& row, const FlatField& flat,
                                             std::span<const Rectangle> rectangles);

float correctedWhiteValue(std::span<const float> values, WhiteFrom from);
float correctedDarkValue(std::span<const float> values);
// The checks of Panel.h over corrected values: saturated bytes, a coefficient of
// variation above 3 %, a white value below 100.
std::vector<PanelWarning> correctedPanelChecks(const CorrectedPixels& white, float nirWhite, float redWhite);

// --- Making one -------------------------------------------------------------------------

inline constexpr double kResidualWarnPercent = 2.0;

struct FlatFieldFit {
    FlatFieldModel model;
    int frames = 0;
    std::uint64_t nirSaturated = 0, redSaturated = 0;  // pixels at 255 over all the flats
    // One line each, in Japanese: saturated pixels, a residual above 2 % per band.
    std::vector<std::string> warnings;
};

// Averages the flats, takes the dark frame's per-band mean as the offset, and fits each
// band on block means of (average - offset). Every frame must pass require24Bit() and
// be of the first one's size: a frame of another size throws FlatFieldError naming it,
// with both sizes. A block holding a byte at 255 in any flat is left out of that band's
// fit (its mean is short of the light that fell on it); a flat with a 255 near the
// frame's centre, where the fit finds the brightest point, is refused naming every such
// flat. A fit that does not settle or is no lens's fall-off (usable models above) throws
// FlatFieldError saying which. Throws EngineError as the reader does.
FlatFieldFit fitFlatField(std::span<const std::string> flats, const std::optional<std::string>& darkFrame,
                          const RunControl& control = {});

// The fit over per-block sums already made (for tests and the fit above): the frames'
// size, the block size, and for each block in row-major order the mean of each band
// minus its offset; a block whose mean is not above 0 (NaN for one left out) takes no
// part. Throws FlatFieldError with an empty path when no usable model fits.
FlatFieldModel fitGainModels(std::int64_t width, std::int64_t height, std::int64_t block,
                             std::span<const double> nirBlockMeans, std::span<const double> redBlockMeans,
                             float nirOffset, float redOffset);

// Writes the flat-field file through the output path (whole or not at all). Throws
// EngineError.
void writeFlatField(const std::string& path, const FlatFieldModel& model);

}  // namespace engine
