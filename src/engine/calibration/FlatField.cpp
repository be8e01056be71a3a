#include "engine/calibration/FlatField.h"

#include "engine/calibration/FlatFieldTerms.h"
#include "engine/formats/PictureReader.h"
#include "engine/formats/ShortestText.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace engine {

FlatFieldError::FlatFieldError(std::string problem, std::string path)
    : std::runtime_error(path + ": " + problem), problem_(std::move(problem)), path_(std::move(path))
{
}

double FlatFieldModel::radius() const
{
    return std::sqrt(static_cast<double>(width) * width + static_cast<double>(height) * height) / 2;
}

namespace flatfield {

std::string sizeText(std::int64_t w, std::int64_t h)
{
    return std::to_string(w) + "×" + std::to_string(h);
}

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

std::string oneDecimal(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

}  // namespace flatfield

using namespace flatfield;

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
namespace {

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

}  // namespace engine
