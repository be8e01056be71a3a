#include "engine/FlatField.h"

#include "engine/BitmapProbe.h"
#include "engine/NdviTiff.h"
#include "engine/OutputPath.h"
#include "engine/PerThread.h"
#include "engine/PictureReader.h"
#include "engine/ShortestText.h"
#include "runtime/Exceptions.h"

#include <tiffio.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <tuple>

namespace engine {

FlatFieldError::FlatFieldError(std::string problem, std::string path)
    : std::runtime_error(path + ": " + problem), problem_(std::move(problem)), path_(std::move(path))
{
}

double FlatFieldModel::radius() const
{
    return std::sqrt(static_cast<double>(width) * width + static_cast<double>(height) * height) / 2;
}

namespace {

std::string sizeText(std::int64_t w, std::int64_t h)
{
    return std::to_string(w) + "×" + std::to_string(h);
}

constexpr const char* kMagic = "zrvimage-flatfield";

// The polynomial of one band at s, as rowGains evaluates it.
double polynomial(const GainModel& g, double s)
{
    return 1 + (g.k1 + (g.k2 + g.k3 * s) * s) * s;
}

std::vector<double> columnTerms(const GainModel& g, std::int64_t width, double q)
{
    std::vector<double> u(static_cast<std::size_t>(width));
    for (std::int64_t x = 0; x < width; ++x) {
        const double d = static_cast<double>(x) - g.cx;
        u[static_cast<std::size_t>(x)] = (d * d) * q;
    }
    return u;
}

double rowTerm(const GainModel& g, std::int64_t y, double q)
{
    const double d = static_cast<double>(y) - g.cy;
    return (d * d) * q;
}

// The smallest and largest gain the band's surface takes over the frame's range of s,
// from the polynomial's ends and turning points: what tells a usable surface from one
// that reaches zero or below somewhere in the frame.
std::pair<double, double> gainRange(const GainModel& g, std::int64_t width, std::int64_t height, double q)
{
    const double nx = std::clamp(g.cx, 0.0, static_cast<double>(width - 1)) - g.cx;
    const double ny = std::clamp(g.cy, 0.0, static_cast<double>(height - 1)) - g.cy;
    const double fx = std::max(std::abs(g.cx), std::abs(static_cast<double>(width - 1) - g.cx));
    const double fy = std::max(std::abs(g.cy), std::abs(static_cast<double>(height - 1) - g.cy));
    const double sLow = (nx * nx + ny * ny) * q;
    const double sHigh = (fx * fx + fy * fy) * q;
    std::vector<double> at{sLow, sHigh};
    // P'(s) = k1 + 2 k2 s + 3 k3 s^2
    const double a = 3 * g.k3, b = 2 * g.k2, c = g.k1;
    if (a != 0) {
        const double disc = b * b - 4 * a * c;
        if (disc >= 0) {
            at.push_back((-b + std::sqrt(disc)) / (2 * a));
            at.push_back((-b - std::sqrt(disc)) / (2 * a));
        }
    } else if (b != 0) {
        at.push_back(-c / b);
    }
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (const double s : at) {
        if (!(s >= sLow && s <= sHigh)) continue;
        const double v = g.c0 * polynomial(g, s);
        low = std::min(low, v);
        high = std::max(high, v);
    }
    return {low, high};
}

// What a lens can do: its fall-off is brightest about the middle of the frame and
// darkens outwards, and no lens loses more than this share of the light to the corners.
// A surface past these is the lighting or the target, and correcting by it would
// multiply the picture by a pattern that is not in the lens.
constexpr double kMostBoost = 8;        // the largest gain over the smallest
constexpr double kCentreShare = 0.9;    // the frame's centre against the largest gain
constexpr double kCornerAllowance = 0.01;

// A band's surface against those: the gain at the frame's centre, the largest of the
// four corners', and its range over the frame.
struct SurfaceShape {
    double centre = 0, corner = 0, low = 0, high = 0;
    bool lensLike() const
    {
        return low > 0 && high <= kMostBoost * low && centre >= kCentreShare * high && corner <= centre + kCornerAllowance;
    }
};

SurfaceShape shapeOf(const GainModel& g, std::int64_t width, std::int64_t height, double q)
{
    SurfaceShape shape;
    std::tie(shape.low, shape.high) = gainRange(g, width, height, q);
    const auto gainAt = [&](double x, double y) {
        const double dx = x - g.cx, dy = y - g.cy;
        return g.c0 * polynomial(g, (dx * dx) * q + (dy * dy) * q);
    };
    const double right = static_cast<double>(width - 1), bottom = static_cast<double>(height - 1);
    shape.centre = gainAt(right / 2, bottom / 2);
    shape.corner = std::max({gainAt(0, 0), gainAt(right, 0), gainAt(0, bottom), gainAt(right, bottom)});
    return shape;
}

// A gain surface the correction can use: finite, none far above 1, and the shape of a
// lens's fall-off.
bool usable(const GainModel& g, std::int64_t width, std::int64_t height, double q)
{
    for (const double v : {g.cx, g.cy, g.k1, g.k2, g.k3, g.c0}) {
        if (!std::isfinite(v)) return false;
    }
    if (!std::isfinite(g.offset) || g.offset < 0 || g.offset >= 255 || !(g.c0 > 0)) return false;
    const SurfaceShape shape = shapeOf(g, width, height, q);
    return shape.high < 1.001 && shape.lensLike();
}

}  // namespace

std::string flatFieldDescription(const FlatFieldModel& model)
{
    std::string text = std::string(kMagic) + " 1\n";
    text += "size " + std::to_string(model.width) + " " + std::to_string(model.height) + "\n";
    text += "gain = c0 * (1 + k1*s + k2*s^2 + k3*s^3), s = ((x-cx)^2 + (y-cy)^2) / R^2, R = " + shortestText(model.radius())
            + " (half the diagonal), x and y the pixel's column and row from the top left; corrected = offset + (DN - "
              "offset) / gain\n";
    const auto band = [&](const char* name, const GainModel& g) {
        text += std::string(name) + " offset=" + shortestText(g.offset) + " cx=" + shortestText(g.cx) + " cy=" + shortestText(g.cy)
                + " k1=" + shortestText(g.k1) + " k2=" + shortestText(g.k2) + " k3=" + shortestText(g.k3) + " c0=" + shortestText(g.c0)
                + " falloff=" + shortestText(g.cornerFalloff) + " rms=" + shortestText(g.rmsResidual) + "\n";
    };
    band("NIR", model.nir);
    band("Red", model.red);
    return text;
}

FlatFieldModel parseFlatFieldDescription(std::string_view text, const std::string& path)
{
    const auto bad = [&]() -> FlatFieldError {
        return FlatFieldError("周辺減光補正ファイルではないか、その説明 (ImageDescription) が読めません", path);
    };
    FlatFieldModel m;
    bool magic = false, size = false, nir = false, red = false;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string line(text.substr(at, end - at));
        at = end + 1;
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word == kMagic) {
            int version = 0;
            if (!(in >> version) || version != 1) throw bad();
            magic = true;
        } else if (word == "size") {
            // No larger than a frame the reader takes: the gains of a row are made
            // per column.
            if (!(in >> m.width >> m.height) || m.width <= 0 || m.height <= 0 || m.width > kMaxWidth
                || m.height > std::numeric_limits<std::int32_t>::max()) {
                throw bad();
            }
            size = true;
        } else if (word == "NIR" || word == "Red") {
            GainModel& g = word == "NIR" ? m.nir : m.red;
            bool& given = word == "NIR" ? nir : red;
            if (given) throw bad();
            given = true;
            std::string pair;
            std::vector<std::string> seen;
            while (in >> pair) {
                const std::size_t eq = pair.find('=');
                if (eq == std::string::npos) throw bad();
                const std::string key = pair.substr(0, eq);
                const char* first = pair.data() + eq + 1;
                const char* last = pair.data() + pair.size();
                std::from_chars_result r{};
                if (key == "offset") {
                    r = std::from_chars(first, last, g.offset);
                } else {
                    double* target = key == "cx"        ? &g.cx
                                     : key == "cy"      ? &g.cy
                                     : key == "k1"      ? &g.k1
                                     : key == "k2"      ? &g.k2
                                     : key == "k3"      ? &g.k3
                                     : key == "c0"      ? &g.c0
                                     : key == "falloff" ? &g.cornerFalloff
                                     : key == "rms"     ? &g.rmsResidual
                                                        : nullptr;
                    if (!target) continue;  // a key a later version adds
                    r = std::from_chars(first, last, *target);
                }
                if (r.ec != std::errc() || r.ptr != last) throw bad();
                if (std::find(seen.begin(), seen.end(), key) != seen.end()) throw bad();  // said twice
                seen.push_back(key);
            }
            if (seen.size() < 9) throw bad();
        }
    }
    if (!magic || !size || !nir || !red) throw bad();
    const double q = 1 / (m.radius() * m.radius());
    if (!usable(m.nir, m.width, m.height, q) || !usable(m.red, m.width, m.height, q)) throw bad();
    return m;
}

FlatField::FlatField(FlatFieldModel model, std::string path) : model_(model), path_(std::move(path))
{
    const double r = model_.radius();
    const double q = 1 / (r * r);
    nirU_ = columnTerms(model_.nir, model_.width, q);
    redU_ = columnTerms(model_.red, model_.width, q);
}

FlatField FlatField::read(const std::string& path)
{
    quietLibtiff();
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) throw FlatFieldError("周辺減光補正ファイルを開けません", path);
    std::unique_ptr<TIFF, void (*)(TIFF*)> closer(tiff, TIFFClose);
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 0, bits = 0, format = SAMPLEFORMAT_UINT;
    const char* description = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    if (samples != 2 || bits != 32 || format != SAMPLEFORMAT_IEEEFP
        || TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description) != 1 || !description) {
        throw FlatFieldError("周辺減光補正ファイルではありません（2 バンドの float32 TIFF ではありません）", path);
    }
    FlatFieldModel model = parseFlatFieldDescription(description, path);
    if (model.width != width || model.height != height) {
        throw FlatFieldError("周辺減光補正ファイルの説明の大きさ (" + sizeText(model.width, model.height)
                                 + ") が画像の大きさ (" + sizeText(width, height) + ") と違います",
                             path);
    }
    return FlatField(model, path);
}

namespace {

// The machine's vector unit, asked once: AVX2 does four doubles or eight floats a step,
// with the very same IEEE operations, so its results are the plain loops' bits.
bool hasAvx2()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

struct BandTerms {
    double v, k1, k2, k3, c0;
};

void gainsPlain(const BandTerms& t, const double* u, std::size_t n, float* out)
{
    for (std::size_t x = 0; x < n; ++x) {
        const double s = u[x] + t.v;
        const double p = 1 + (t.k1 + (t.k2 + t.k3 * s) * s) * s;
        out[x] = static_cast<float>(t.c0 * p);
    }
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) void gainsAvx2(const BandTerms& t, const double* u, std::size_t n, float* out)
{
    const __m256d v = _mm256_set1_pd(t.v), k1 = _mm256_set1_pd(t.k1), k2 = _mm256_set1_pd(t.k2),
                  k3 = _mm256_set1_pd(t.k3), c0 = _mm256_set1_pd(t.c0), one = _mm256_set1_pd(1);
    std::size_t x = 0;
    for (; x + 4 <= n; x += 4) {
        const __m256d s = _mm256_add_pd(_mm256_loadu_pd(u + x), v);
        const __m256d inner = _mm256_mul_pd(_mm256_add_pd(k2, _mm256_mul_pd(k3, s)), s);
        const __m256d p = _mm256_add_pd(one, _mm256_mul_pd(_mm256_add_pd(k1, inner), s));
        _mm_storeu_ps(out + x, _mm256_cvtpd_ps(_mm256_mul_pd(c0, p)));
    }
    gainsPlain(t, u + x, n - x, out + x);
}
#endif

}  // namespace

void FlatField::bandRow(const GainModel& band, const std::vector<double>& u, std::int64_t y, float* out) const
{
    const double q = 1 / (model_.radius() * model_.radius());
    const BandTerms t{rowTerm(band, y, q), band.k1, band.k2, band.k3, band.c0};
    const auto n = static_cast<std::size_t>(model_.width);
#if defined(__x86_64__) || defined(__i386__)
    if (hasAvx2()) return gainsAvx2(t, u.data(), n, out);
#endif
    gainsPlain(t, u.data(), n, out);
}

void FlatField::rowGains(std::int64_t y, float* nir, float* red) const
{
    bandRow(model_.nir, nirU_, y, nir);
    bandRow(model_.red, redU_, y, red);
}

std::optional<std::string> FlatField::sizeProblem(std::int64_t frameWidth, std::int64_t frameHeight) const
{
    if (frameWidth == width() && frameHeight == height()) return std::nullopt;
    return "周辺減光補正ファイル (" + sizeText(width(), height()) + ") と画像 (" + sizeText(frameWidth, frameHeight)
           + ") の大きさが違います";
}

void FlatField::requireSize(std::int64_t frameWidth, std::int64_t frameHeight, const std::string& framePath) const
{
    if (auto problem = sizeProblem(frameWidth, frameHeight)) throw FlatFieldError(*problem, framePath);
}

// --- Per pixel ----------------------------------------------------------------------

float correctedValue(std::uint8_t dn, float gain, float offset)
{
    return offset + (static_cast<float>(dn) - offset) / gain;
}

namespace {

float slopeOf(const BandCalibration& band)
{
    return static_cast<float>((static_cast<double>(band.rWhite) - band.rDark)
                              / (static_cast<double>(band.dnWhite) - band.dnDark));
}

// As the vector instructions do it: maxps(r, 0) is r > 0 ? r : 0, minps(r, 1) is
// r < 1 ? r : 1 (so -0 becomes 0).
float limited(float r)
{
    r = r > 0.0f ? r : 0.0f;
    return r < 1.0f ? r : 1.0f;
}

}  // namespace

float correctedReflectance(float corrected, const BandCalibration& band)
{
    return limited(band.rDark + (corrected - band.dnDark) * slopeOf(band));
}

float correctedNdvi(float nir, float red)
{
    const float sum = nir + red;
    const float difference = nir - red;
    return sum == 0.0f ? kNdviMarker : difference / sum;
}

float correctedNdviPixel(std::uint8_t nirByte, std::uint8_t redByte, float nirGain, float redGain,
                         const FlatFieldModel& flat, const NdviModel& model)
{
    const float nir = correctedReflectance(correctedValue(nirByte, nirGain, flat.nir.offset), model.nir);
    const float red = correctedReflectance(correctedValue(redByte, redGain, flat.red.offset), model.red);
    return correctedNdvi(nir, red);
}

CorrectedNdviRows::CorrectedNdviRows(const FlatField& flat, const NdviModel& model)
    : flat_(flat), nirSlope_(slopeOf(model.nir)), redSlope_(slopeOf(model.red)), nirDark_(model.nir.dnDark),
      redDark_(model.red.dnDark), nirRDark_(model.nir.rDark), redRDark_(model.red.rDark),
      nirGain_(static_cast<std::size_t>(flat.width())), redGain_(static_cast<std::size_t>(flat.width())), model_(model)
{
}

namespace {

struct RowTerms {
    float nirOffset, redOffset, nirSlope, redSlope, nirDark, redDark, nirRDark, redRDark;
};

#if defined(__x86_64__) || defined(__i386__)
// One band's bytes of eight pixels, four from each load, as floats.
__attribute__((target("avx2"))) inline __m256 bandOf(__m128i low, __m128i high, __m128i pick)
{
    const __m128i a = _mm_cvtepu8_epi32(_mm_shuffle_epi8(low, pick));
    const __m128i b = _mm_cvtepu8_epi32(_mm_shuffle_epi8(high, pick));
    return _mm256_cvtepi32_ps(_mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1));
}

// Eight pixels a step: the red and green bytes of four pixels picked out of 16 loaded
// bytes at a time, widened to floats, then correctedNdviPixel's operations in order.
// Returns the pixels done; the caller does the rest one by one.
__attribute__((target("avx2"))) std::size_t ndviAvx2(const RowTerms& t, const std::uint8_t* pixels, const float* gn,
                                                     const float* gr, std::size_t n, float* out)
{
    const __m128i nirBytes = _mm_setr_epi8(2, 5, 8, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i redBytes = _mm_setr_epi8(1, 4, 7, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256 on = _mm256_set1_ps(t.nirOffset), orr = _mm256_set1_ps(t.redOffset);
    const __m256 sn = _mm256_set1_ps(t.nirSlope), sr = _mm256_set1_ps(t.redSlope);
    const __m256 dn = _mm256_set1_ps(t.nirDark), dr = _mm256_set1_ps(t.redDark);
    const __m256 rn0 = _mm256_set1_ps(t.nirRDark), rr0 = _mm256_set1_ps(t.redRDark);
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f), marker = _mm256_set1_ps(kNdviMarker);
    std::size_t x = 0;
    // The second load reads 4 bytes past the eighth pixel: stop while they are pixels.
    for (; x + 10 <= n; x += 8) {
        const std::uint8_t* p = pixels + 3 * x;
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12));
        const __m256 bn = bandOf(low, high, nirBytes), br = bandOf(low, high, redBytes);
        const __m256 cn = _mm256_add_ps(on, _mm256_div_ps(_mm256_sub_ps(bn, on), _mm256_loadu_ps(gn + x)));
        const __m256 cr = _mm256_add_ps(orr, _mm256_div_ps(_mm256_sub_ps(br, orr), _mm256_loadu_ps(gr + x)));
        // maxps(r, 0) is r > 0 ? r : 0 and minps(r, 1) is r < 1 ? r : 1, as limited().
        const __m256 rn = _mm256_min_ps(_mm256_max_ps(_mm256_add_ps(rn0, _mm256_mul_ps(_mm256_sub_ps(cn, dn), sn)), zero), one);
        const __m256 rr = _mm256_min_ps(_mm256_max_ps(_mm256_add_ps(rr0, _mm256_mul_ps(_mm256_sub_ps(cr, dr), sr)), zero), one);
        const __m256 sum = _mm256_add_ps(rn, rr);
        const __m256 q = _mm256_div_ps(_mm256_sub_ps(rn, rr), sum);
        _mm256_storeu_ps(out + x, _mm256_blendv_ps(q, marker, _mm256_cmp_ps(sum, zero, _CMP_EQ_OQ)));
    }
    return x;
}
#endif

}  // namespace

void CorrectedNdviRows::row(std::int64_t y, const std::uint8_t* pixels, float* out)
{
    flat_.rowGains(y, nirGain_.data(), redGain_.data());
    const float* gn = nirGain_.data();
    const float* gr = redGain_.data();
    const FlatFieldModel& m = flat_.model();
    const auto n = static_cast<std::size_t>(flat_.width());
    std::size_t x = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (hasAvx2()) {
        const RowTerms t{m.nir.offset, m.red.offset, nirSlope_, redSlope_, nirDark_, redDark_, nirRDark_, redRDark_};
        x = ndviAvx2(t, pixels, gn, gr, n, out);
    }
#endif
    for (; x < n; ++x) {
        out[x] = correctedNdviPixel(pixels[3 * x + 2], pixels[3 * x + 1], gn[x], gr[x], m, model_);
    }
}

void correctedBands(const FlatField& flat, std::int64_t y, std::int64_t x, std::size_t count,
                    const std::uint8_t* pixels, float* nir, float* red)
{
    struct Gains {
        std::vector<float> nir, red;
    };
    Gains& gains = perThread<Gains>();
    std::vector<float>& gn = gains.nir;
    std::vector<float>& gr = gains.red;
    gn.resize(static_cast<std::size_t>(flat.width()));
    gr.resize(static_cast<std::size_t>(flat.width()));
    flat.rowGains(y, gn.data(), gr.data());
    const float on = flat.model().nir.offset, orr = flat.model().red.offset;
    for (std::size_t i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(x) + i;
        nir[i] = correctedValue(pixels[3 * i + 2], gn[at], on);
        red[i] = correctedValue(pixels[3 * i + 1], gr[at], orr);
    }
}

// --- Panels -------------------------------------------------------------------------

namespace {

template <typename RowAt>
std::vector<CorrectedPixels> correctedOver(const FlatField& flat, std::span<const Rectangle> rectangles, RowAt&& rowAt)
{
    std::vector<CorrectedPixels> result(rectangles.size());
    if (rectangles.empty()) return result;
    std::int64_t top = rectangles[0].y1, bottom = rectangles[0].y2;
    for (const Rectangle& r : rectangles) {
        top = std::min(top, r.y1);
        bottom = std::max(bottom, r.y2);
    }
    for (std::int64_t y = top; y <= bottom; ++y) {
        const std::uint8_t* row = rowAt(y, top, bottom);
        for (std::size_t i = 0; i < rectangles.size(); ++i) {
            const Rectangle& r = rectangles[i];
            if (y < r.y1 || y > r.y2) continue;
            CorrectedPixels& p = result[i];
            const auto count = static_cast<std::size_t>(r.x2 - r.x1 + 1);
            const std::size_t at = p.nir.size();
            p.nir.resize(at + count);
            p.red.resize(at + count);
            const std::uint8_t* px = row + 3 * r.x1;
            correctedBands(flat, y, r.x1, count, px, p.nir.data() + at, p.red.data() + at);
            for (std::size_t k = 0; k < count; ++k) {
                p.nirSaturated += px[3 * k + 2] == 255;
                p.redSaturated += px[3 * k + 1] == 255;
            }
        }
    }
    return result;
}

double meanOf(std::span<const float> values)
{
    double sum = 0;
    for (const float v : values) sum += v;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

double variationPercent(std::span<const float> values)
{
    const double mean = meanOf(values);
    if (mean == 0) return 0;
    double squares = 0;
    for (const float v : values) squares += (v - mean) * (v - mean);
    return 100 * std::sqrt(squares / static_cast<double>(values.size())) / mean;
}

std::string oneDecimal(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

}  // namespace

std::vector<CorrectedPixels> correctedPixels(PictureReader& reader, const FlatField& flat,
                                             std::span<const Rectangle> rectangles)
{
    flat.requireSize(reader.width(), reader.height(), reader.path());
    std::optional<RowStream> rows;
    return correctedOver(flat, rectangles, [&](std::int64_t, std::int64_t top, std::int64_t bottom) {
        if (!rows) rows.emplace(reader, RowStream::Order::TopFirst, top, bottom);
        return rows->next();
    });
}

std::vector<CorrectedPixels> correctedPixels(const FlatRowAccess& row, const FlatField& flat,
                                             std::span<const Rectangle> rectangles)
{
    return correctedOver(flat, rectangles, [&](std::int64_t y, std::int64_t, std::int64_t) { return row(y); });
}

float correctedWhiteValue(std::span<const float> values, WhiteFrom from)
{
    float v = 0;
    if (!values.empty()) {
        switch (from) {
        case WhiteFrom::Maximum: v = *std::max_element(values.begin(), values.end()); break;
        case WhiteFrom::Mean: v = static_cast<float>(meanOf(values)); break;
        case WhiteFrom::Percentile99: {
            std::vector<float> sorted(values.begin(), values.end());
            const std::size_t rank = (99 * sorted.size() + 99) / 100;  // ceil(0.99 n)
            std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(rank - 1), sorted.end());
            v = sorted[rank - 1];
            break;
        }
        }
    }
    return std::max(v, 1.0f);
}

float correctedDarkValue(std::span<const float> values)
{
    return std::max(static_cast<float>(meanOf(values)), 0.0f);
}

std::vector<PanelWarning> correctedPanelChecks(const CorrectedPixels& white, float nirWhite, float redWhite)
{
    std::vector<PanelWarning> warnings;
    if (white.nirSaturated + white.redSaturated > 0) {
        warnings.push_back({PanelCheck::Saturated, "白色板の範囲に 255 で飽和した画素があります（NIR "
                                                       + std::to_string(white.nirSaturated) + " 画素、Red "
                                                       + std::to_string(white.redSaturated)
                                                       + " 画素）。露出を下げて撮影してください"});
    }
    const double nirVariation = variationPercent(white.nir);
    const double redVariation = variationPercent(white.red);
    if (nirVariation > 3 || redVariation > 3) {
        warnings.push_back({PanelCheck::Uneven, "白色板の範囲の明るさが一様ではありません（変動係数 NIR "
                                                    + oneDecimal(nirVariation) + " %、Red " + oneDecimal(redVariation)
                                                    + " %、上限 3 %）。照明のむらか、白色板以外のものが範囲に入っています"});
    }
    if (nirWhite < kDimWhiteBelow || redWhite < kDimWhiteBelow) {
        warnings.push_back({PanelCheck::Dim, "白色板の値が 100 未満です（NIR " + shortestText(nirWhite) + "、Red "
                                                 + shortestText(redWhite) + "）。露出が足りないか、白色板ではありません"});
    }
    return warnings;
}

// --- Making one ---------------------------------------------------------------------

namespace {

constexpr std::int64_t kBlock = 32;

struct BlockPoint {
    double x, y, value;
};

// Least squares of value against 1, s, s^2, s^3 by the normal equations, s scaled by
// its largest value so that they stay well conditioned; the coefficients and the sum of
// the squared residuals relative to the fit.
struct CubicFit {
    std::array<double, 4> a{};
    double cost = std::numeric_limits<double>::infinity();
    bool ok = false;
};

CubicFit fitCubic(std::span<const BlockPoint> points, double cx, double cy, double q)
{
    std::vector<double> s(points.size());
    double top = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double dx = points[i].x - cx, dy = points[i].y - cy;
        s[i] = (dx * dx) * q + (dy * dy) * q;
        top = std::max(top, s[i]);
    }
    if (!(top > 0)) return {};
    std::array<std::array<double, 5>, 4> m{};
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double t = s[i] / top;
        // Weighted by 1 / value: the residuals relative, so the dim corners, where the
        // correction is largest, count as much as the bright middle.
        const double w = 1 / points[i].value;
        const std::array<double, 4> b{w, w * t, w * t * t, w * t * t * t};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) m[r][c] += b[r] * b[c];
            m[r][4] += b[r];
        }
    }
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r) {
            if (std::abs(m[r][c]) > std::abs(m[pivot][c])) pivot = r;
        }
        std::swap(m[c], m[pivot]);
        if (m[c][c] == 0) return {};
        for (int r = 0; r < 4; ++r) {
            if (r == c) continue;
            const double f = m[r][c] / m[c][c];
            for (int k = c; k < 5; ++k) m[r][k] -= f * m[c][k];
        }
    }
    CubicFit fit;
    double scale = 1;
    for (int c = 0; c < 4; ++c) {
        fit.a[c] = m[c][4] / m[c][c] / scale;
        scale *= top;
    }
    fit.cost = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double f = fit.a[0] + (fit.a[1] + (fit.a[2] + fit.a[3] * s[i]) * s[i]) * s[i];
        const double r = f > 0 ? (points[i].value - f) / f : 1;
        fit.cost += r * r;
    }
    fit.ok = fit.a[0] > 0 && std::isfinite(fit.cost);
    return fit;
}

struct BandFit {
    GainModel model;
    bool settled = false;
};

BandFit fitBand(std::int64_t width, std::int64_t height, std::span<const BlockPoint> points, float offset, double q)
{
    // The centre by a pattern search from the frame's centre, the shape by least
    // squares at each step: a few hundred small solves, the same every time.
    double cx = static_cast<double>(width - 1) / 2, cy = static_cast<double>(height - 1) / 2;
    CubicFit best = fitCubic(points, cx, cy, q);
    double step = static_cast<double>(std::max(width, height)) / 8;
    const double limit = static_cast<double>(std::max(width, height));
    for (int round = 0; round < 400 && step > 0.01; ++round) {
        bool moved = false;
        for (const auto& [dx, dy] : {std::pair{1, 0}, std::pair{-1, 0}, std::pair{0, 1}, std::pair{0, -1}}) {
            const double nx = cx + dx * step, ny = cy + dy * step;
            if (std::abs(nx - static_cast<double>(width) / 2) > limit || std::abs(ny - static_cast<double>(height) / 2) > limit) {
                continue;
            }
            const CubicFit f = fitCubic(points, nx, ny, q);
            if (f.ok && f.cost < best.cost) {
                best = f;
                cx = nx;
                cy = ny;
                moved = true;
            }
        }
        if (!moved) step /= 2;
    }
    BandFit fit;
    // Settled: a solution, and the search's step down to a hundredth of a pixel
    // before its rounds ran out.
    fit.settled = best.ok && step <= 0.01;
    if (!best.ok) return fit;
    GainModel& g = fit.model;
    g.cx = cx;
    g.cy = cy;
    g.k1 = best.a[1] / best.a[0];
    g.k2 = best.a[2] / best.a[0];
    g.k3 = best.a[3] / best.a[0];
    g.offset = offset;
    g.rmsResidual = 100 * std::sqrt(best.cost / static_cast<double>(points.size()));
    // c0: 1 over the largest polynomial value at any pixel, evaluated as the rows are.
    const std::vector<double> u = columnTerms(g, width, q);
    double top = 0;
    for (std::int64_t y = 0; y < height; ++y) {
        const double v = rowTerm(g, y, q);
        for (const double ux : u) top = std::max(top, polynomial(g, ux + v));
    }
    g.c0 = top > 0 ? 1 / top : std::numeric_limits<double>::quiet_NaN();
    return fit;
}

constexpr const char* kUnfit = "白い面の画像から周辺減光のモデルを求められません（暗すぎるか、一様に照らされていません）";

[[noreturn]] void unfit(const std::string& path)
{
    throw FlatFieldError(kUnfit, path);
}

// Why a band's fitted surface cannot be used, in the user's words; nothing when it can.
std::optional<std::string> bandProblem(const char* name, const BandFit& fit, std::int64_t width, std::int64_t height, double q)
{
    const GainModel& g = fit.model;
    if (!fit.settled) {
        return std::string(name) + ": 周辺減光のモデルの当てはめが収束しません。白い面に模様があるか、一様に照らされていません";
    }
    for (const double v : {g.cx, g.cy, g.k1, g.k2, g.k3, g.c0}) {
        if (!std::isfinite(v)) return std::string(name) + ": " + kUnfit;
    }
    const SurfaceShape shape = shapeOf(g, width, height, q);
    if (shape.centre < kCentreShare * shape.high || shape.corner > shape.centre + kCornerAllowance) {
        return std::string(name) + ": 画像の周辺が中心より明るく、レンズの周辺減光ではありません（中心の明るさは最も明るい所の "
               + oneDecimal(100 * shape.centre / shape.high)
               + " %）。照明が一様か、白い面が画像全体を覆っているか確かめてください";
    }
    if (!shape.lensLike() || !(shape.high < 1.001)) {
        const std::string ratio = shape.low > 0 ? oneDecimal(shape.high / shape.low) + " 倍" : "無限大";
        return std::string(name) + ": 補正の倍率が 8 倍を超え（最も明るい所と最も暗い所の比 " + ratio
               + "）、レンズの周辺減光ではありません。白い面が画像全体を覆っているか確かめてください";
    }
    return std::nullopt;
}

}  // namespace

FlatFieldModel fitGainModels(std::int64_t width, std::int64_t height, std::int64_t block,
                             std::span<const double> nirBlockMeans, std::span<const double> redBlockMeans,
                             float nirOffset, float redOffset)
{
    FlatFieldModel m;
    m.width = width;
    m.height = height;
    const double q = 1 / (m.radius() * m.radius());
    const std::int64_t columns = (width + block - 1) / block;
    const auto points = [&](std::span<const double> means) {
        std::vector<BlockPoint> p;
        for (std::size_t i = 0; i < means.size(); ++i) {
            const std::int64_t bx = static_cast<std::int64_t>(i) % columns, by = static_cast<std::int64_t>(i) / columns;
            const std::int64_t x0 = bx * block, y0 = by * block;
            const std::int64_t x1 = std::min(x0 + block, width) - 1, y1 = std::min(y0 + block, height) - 1;
            // A block at 0 or below holds no light to fit: a dark corner past the image
            // circle, or a dark frame brighter than the flats. NaN: a block left out.
            if (means[i] > 0) p.push_back({static_cast<double>(x0 + x1) / 2, static_cast<double>(y0 + y1) / 2, means[i]});
        }
        return p;
    };
    const auto nir = points(nirBlockMeans);
    const auto red = points(redBlockMeans);
    if (nir.size() < 8 || red.size() < 8) unfit({});
    const BandFit nirFit = fitBand(width, height, nir, nirOffset, q);
    const BandFit redFit = fitBand(width, height, red, redOffset, q);
    for (const auto& [name, fit] : {std::pair{"NIR", &nirFit}, std::pair{"Red", &redFit}}) {
        if (const auto problem = bandProblem(name, *fit, width, height, q)) throw FlatFieldError(*problem, {});
    }
    m.nir = nirFit.model;
    m.red = redFit.model;
    for (GainModel* g : {&m.nir, &m.red}) {
        if (!usable(*g, width, height, q)) unfit({});
        FlatField one(m);
        std::vector<float> gn(static_cast<std::size_t>(width)), gr(static_cast<std::size_t>(width));
        double lowest = 1;
        for (const std::int64_t y : {std::int64_t{0}, height - 1}) {
            one.rowGains(y, gn.data(), gr.data());
            const std::vector<float>& v = g == &m.nir ? gn : gr;
            lowest = std::min({lowest, static_cast<double>(v.front()), static_cast<double>(v.back())});
        }
        g->cornerFalloff = 100 * (1 - lowest);
    }
    return m;
}

FlatFieldFit fitFlatField(std::span<const std::string> flats, const std::optional<std::string>& darkFrame,
                          const RunControl& control)
{
    FlatFieldFit fit;
    std::int64_t width = 0, height = 0;
    std::string firstPath;
    const auto open = [&](const std::string& path) {
        PictureReader reader = PictureReader::open(path);
        reader.require24Bit(PictureReader::Signature::Names);
        if (firstPath.empty()) {
            firstPath = path;
            width = reader.width();
            height = reader.height();
        } else if (reader.width() != width || reader.height() != height) {
            throw FlatFieldError("画像の大きさ (" + sizeText(reader.width(), reader.height()) + ") が " + firstPath + " ("
                                     + sizeText(width, height) + ") と違います。同じ大きさの画像だけを使えます",
                                 path);
        }
        return reader;
    };
    const auto rows = [&](PictureReader& reader, auto&& perRow) {
        RowStream stream(reader, RowStream::Order::TopFirst, 0, reader.height() - 1);
        for (std::int64_t y = 0; y < reader.height(); ++y) {
            if (control.cancel && control.cancel->load(std::memory_order_relaxed)) throw runtime::EAbort();
            perRow(y, stream.next());
            if (control.onRows) control.onRows(1, static_cast<std::size_t>(reader.width()));
        }
    };
    // Every frame checked first: nothing is averaged from a set that will be refused.
    for (const std::string& path : flats) open(path);
    if (darkFrame) open(*darkFrame);
    if (width == 0 || height == 0) unfit(firstPath);

    const std::int64_t columns = (width + kBlock - 1) / kBlock, blockRows = (height + kBlock - 1) / kBlock;
    const auto blocks = static_cast<std::size_t>(columns * blockRows);
    std::vector<std::uint64_t> nirSum(blocks), redSum(blocks);
    // A byte at 255 stands for any light from there up: its block's mean says too little
    // and would flatten the fall-off it is fitted to.
    std::vector<std::uint8_t> nirClipped(blocks), redClipped(blocks);
    // The middle of the frame: blocks whose centre lies within a quarter of the half
    // diagonal of the frame's. A lens is brightest there, and what the fit takes for the
    // brightest point cannot be guessed once it is clipped.
    std::vector<std::uint8_t> central(blocks);
    {
        const double r = FlatFieldModel{width, height, {}, {}}.radius() / 4;
        for (std::size_t i = 0; i < blocks; ++i) {
            const std::int64_t bx = static_cast<std::int64_t>(i) % columns, by = static_cast<std::int64_t>(i) / columns;
            const double x = static_cast<double>(bx * kBlock + std::min(bx * kBlock + kBlock, width) - 1) / 2;
            const double y = static_cast<double>(by * kBlock + std::min(by * kBlock + kBlock, height) - 1) / 2;
            const double dx = x - static_cast<double>(width - 1) / 2, dy = y - static_cast<double>(height - 1) / 2;
            central[i] = dx * dx + dy * dy <= r * r;
        }
    }
    std::vector<std::string> clippedInMiddle;
    for (const std::string& path : flats) {
        PictureReader reader = open(path);
        bool middle = false;
        rows(reader, [&](std::int64_t y, const std::uint8_t* row) {
            const std::size_t base = static_cast<std::size_t>(y / kBlock * columns);
            for (std::int64_t x = 0; x < width; ++x) {
                const std::uint8_t n = row[3 * x + 2], r = row[3 * x + 1];
                const std::size_t b = base + static_cast<std::size_t>(x / kBlock);
                nirSum[b] += n;
                redSum[b] += r;
                if (n == 255 || r == 255) {
                    fit.nirSaturated += n == 255;
                    fit.redSaturated += r == 255;
                    nirClipped[b] |= n == 255;
                    redClipped[b] |= r == 255;
                    middle = middle || central[b];
                }
            }
        });
        if (middle) clippedInMiddle.push_back(path);
        ++fit.frames;
    }
    if (!clippedInMiddle.empty()) {
        std::string others;
        for (std::size_t i = 1; i < clippedInMiddle.size(); ++i) others += (i > 1 ? ", " : "") + clippedInMiddle[i];
        throw FlatFieldError("白い面の画像の中央が 255 で飽和しています（露出オーバー）。中央の明るさが分からないため周辺減光を求められません。"
                             "露出を下げて撮り直してください"
                                 + (others.empty() ? std::string() : "（ほかに中央が飽和した画像: " + others + "）"),
                             clippedInMiddle.front());
    }
    float nirOffset = 0, redOffset = 0;
    if (darkFrame) {
        PictureReader reader = open(*darkFrame);
        std::uint64_t n = 0, r = 0;
        rows(reader, [&](std::int64_t, const std::uint8_t* row) {
            for (std::int64_t x = 0; x < width; ++x) {
                n += row[3 * x + 2];
                r += row[3 * x + 1];
            }
        });
        const auto pixels = static_cast<double>(width * height);
        nirOffset = static_cast<float>(static_cast<double>(n) / pixels);
        redOffset = static_cast<float>(static_cast<double>(r) / pixels);
    }
    std::vector<double> nirMeans(blocks), redMeans(blocks);
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::int64_t bx = static_cast<std::int64_t>(i) % columns, by = static_cast<std::int64_t>(i) / columns;
        const std::int64_t bw = std::min(kBlock, width - bx * kBlock), bh = std::min(kBlock, height - by * kBlock);
        const double count = static_cast<double>(bw * bh) * fit.frames;
        constexpr double left = std::numeric_limits<double>::quiet_NaN();
        nirMeans[i] = nirClipped[i] ? left : static_cast<double>(nirSum[i]) / count - nirOffset;
        redMeans[i] = redClipped[i] ? left : static_cast<double>(redSum[i]) / count - redOffset;
    }
    try {
        fit.model = fitGainModels(width, height, kBlock, nirMeans, redMeans, nirOffset, redOffset);
    } catch (const FlatFieldError& e) {
        throw FlatFieldError(e.problem(), firstPath);
    }
    if (fit.nirSaturated + fit.redSaturated > 0) {
        const auto count = [](const std::vector<std::uint8_t>& v) { return std::to_string(std::count(v.begin(), v.end(), 1)); };
        fit.warnings.push_back("白い面の画像に 255 で飽和した画素があります（NIR " + std::to_string(fit.nirSaturated)
                               + " 画素、Red " + std::to_string(fit.redSaturated) + " 画素）。その区画（NIR "
                               + count(nirClipped) + "、Red " + count(redClipped)
                               + "）は当てはめから除きました。露出を下げて撮影してください");
    }
    for (const auto& [name, g] : {std::pair{"NIR", &fit.model.nir}, std::pair{"Red", &fit.model.red}}) {
        if (g->rmsResidual > kResidualWarnPercent) {
            fit.warnings.push_back(std::string(name) + ": モデルとの差 (RMS " + oneDecimal(g->rmsResidual)
                                   + " %) が 2 % を超えています。白い面に模様があるか、一様に照らされていません");
        }
    }
    return fit;
}

// --- The file -----------------------------------------------------------------------

namespace {

// The TIFF is made in memory and placed whole by the output path.
struct MemoryTiff {
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
};

MemoryTiff& memoryOf(thandle_t h)
{
    return *static_cast<MemoryTiff*>(h);
}

tmsize_t memoryRead(thandle_t h, void* data, tmsize_t size)
{
    MemoryTiff& m = memoryOf(h);
    const std::size_t n = std::min(static_cast<std::size_t>(size), m.bytes.size() - std::min(m.at, m.bytes.size()));
    std::memcpy(data, m.bytes.data() + m.at, n);
    m.at += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t memoryWrite(thandle_t h, void* data, tmsize_t size)
{
    MemoryTiff& m = memoryOf(h);
    const auto n = static_cast<std::size_t>(size);
    if (m.bytes.size() < m.at + n) m.bytes.resize(m.at + n);
    std::memcpy(m.bytes.data() + m.at, data, n);
    m.at += n;
    return size;
}

toff_t memorySeek(thandle_t h, toff_t offset, int whence)
{
    MemoryTiff& m = memoryOf(h);
    const std::int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<std::int64_t>(m.at)
                                                                          : static_cast<std::int64_t>(m.bytes.size());
    const std::int64_t to = base + static_cast<std::int64_t>(offset);
    if (to < 0) return static_cast<toff_t>(-1);
    m.at = static_cast<std::size_t>(to);
    return static_cast<toff_t>(to);
}

int memoryClose(thandle_t)
{
    return 0;
}

toff_t memorySize(thandle_t h)
{
    return memoryOf(h).bytes.size();
}

int memoryMap(thandle_t, void**, toff_t*)
{
    return 0;
}

void memoryUnmap(thandle_t, void*, toff_t) {}

}  // namespace

void writeFlatField(const std::string& path, const FlatFieldModel& model)
{
    quietLibtiff();
    MemoryTiff memory;
    TIFF* tiff = TIFFClientOpen(path.c_str(), "w", &memory, memoryRead, memoryWrite, memorySeek, memoryClose, memorySize,
                                memoryMap, memoryUnmap);
    if (!tiff) throw EngineError(Failure::CannotCreateOutput, path);
    const auto width = static_cast<std::uint32_t>(model.width);
    const std::uint32_t rowsPerStrip = std::max<std::uint32_t>(1, (256u << 10) / (width * 8));
    const std::string description = flatFieldDescription(model);
    const std::uint16_t extra[] = {EXTRASAMPLE_UNSPECIFIED};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(model.height));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 2);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    TIFFSetField(tiff, TIFFTAG_SOFTWARE, "zrvimage");
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    const FlatField flat(model);
    std::vector<float> nir(width), red(width), strip(static_cast<std::size_t>(rowsPerStrip) * width * 2);
    bool ok = true;
    std::uint32_t held = 0;
    tstrip_t next = 0;
    const auto flush = [&] {
        const auto bytes = static_cast<tmsize_t>(held) * width * 8;
        if (held > 0 && TIFFWriteEncodedStrip(tiff, next++, strip.data(), bytes) != bytes) ok = false;
        held = 0;
    };
    for (std::int64_t y = 0; y < model.height; ++y) {
        flat.rowGains(y, nir.data(), red.data());
        float* at = strip.data() + static_cast<std::size_t>(held) * width * 2;
        for (std::uint32_t x = 0; x < width; ++x) {
            at[2 * x] = nir[x];
            at[2 * x + 1] = red[x];
        }
        if (++held == rowsPerStrip) flush();
    }
    flush();
    ok = TIFFFlush(tiff) == 1 && ok;
    TIFFClose(tiff);
    if (!ok) throw EngineError(Failure::WriteFailed, path);
    writeWholeFile(path, memory.bytes);
}

}  // namespace engine
