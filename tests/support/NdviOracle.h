#pragma once
// The NDVI of one (NIR byte, red byte) pair, worked out from the documented formula
// alone for the tests: nothing here comes from the engine, so a fault in its helpers,
// its table or its faster paths cannot hide in the expected values.
//
// Each band's byte becomes a reflectance:
// - with the default targets (white reflectance 1, no dark target), the plain ratio
//   byte / white, divided in x87 extended precision and rounded to float32, then capped
//   at 1.0 from above only (a negative white value stays negative);
// - otherwise the empirical line rDark + (DN - dnDark) * (rWhite - rDark) /
//   (dnWhite - dnDark), evaluated left to right in extended precision from the float
//   inputs, rounded once to float32 and then limited to 0..1.
// The NDVI is (nir - red) / (nir + red): difference, sum and quotient in extended
// precision, the quotient rounded to float32; -10 where nir + red is 0.
//
// White values must be non-zero (a zero one is a division error in the tools, tested
// on its own), and a calibrated band's white byte above its dark byte.

#include <algorithm>
#include <cstdint>

namespace testing_support {

struct BandTargets {
    float dnWhite = 255;  // the white panel's byte
    float rWhite = 1;     // its reflectance
    float dnDark = 0;     // the dark target's byte
    float rDark = 0;      // its reflectance
};

struct NdviTargets {
    BandTargets nir;  // the red byte
    BandTargets red;  // the green byte
};

// Targets with white values only: the plain ratios.
inline NdviTargets whites(float nirWhite, float redWhite)
{
    NdviTargets t;
    t.nir.dnWhite = nirWhite;
    t.red.dnWhite = redWhite;
    return t;
}

// The same numbers read off any model with the engine's field names, so that tests can
// hand over the model they gave the code under test.
template <class Model>
NdviTargets targetsOf(const Model& m)
{
    const auto band = [](const auto& b) { return BandTargets{b.dnWhite, b.rWhite, b.dnDark, b.rDark}; };
    return {band(m.nir), band(m.red)};
}

inline float oracleReflectance(std::uint8_t dn, const BandTargets& b)
{
    if (b.rWhite == 1 && b.dnDark == 0 && b.rDark == 0) {
        const auto ratio = static_cast<float>(static_cast<long double>(dn) / static_cast<long double>(b.dnWhite));
        return ratio > 1.0f ? 1.0f : ratio;
    }
    const long double dnL = dn;
    const long double line = b.rDark + (dnL - b.dnDark) * (static_cast<long double>(b.rWhite) - b.rDark)
                                           / (static_cast<long double>(b.dnWhite) - b.dnDark);
    return std::clamp(static_cast<float>(line), 0.0f, 1.0f);
}

inline float oracleNdvi(std::uint8_t nirByte, std::uint8_t redByte, const NdviTargets& t)
{
    const float nir = oracleReflectance(nirByte, t.nir);
    const float red = oracleReflectance(redByte, t.red);
    const long double sum = static_cast<long double>(nir) + static_cast<long double>(red);
    if (sum == 0.0L) return -10.0f;
    return static_cast<float>((static_cast<long double>(nir) - static_cast<long double>(red)) / sum);
}

inline float oracleNdvi(std::uint8_t nirByte, std::uint8_t redByte, float nirWhite, float redWhite)
{
    return oracleNdvi(nirByte, redByte, whites(nirWhite, redWhite));
}

}  // namespace testing_support
