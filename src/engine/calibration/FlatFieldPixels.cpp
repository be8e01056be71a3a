#include "engine/calibration/FlatField.h"

#include "engine/calibration/FlatFieldTerms.h"
#include "engine/formats/PictureReader.h"
#include "engine/platform/PerThread.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <cstdint>
#include <vector>

namespace engine {

using namespace flatfield;

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

}  // namespace engine
