#pragma once
// How a band's byte becomes a reflectance: the empirical line through a white panel
// and a dark target of known reflectances,
//
//     reflectance = rDark + (DN - dnDark) * (rWhite - rDark) / (dnWhite - dnDark),
//
// limited to 0..1. The defaults (rWhite 1, dnDark 0, rDark 0) are the plain ratio to
// the white panel, DN / dnWhite capped at 1, with the very same floats the NDVI has
// always had; the designed window uses only those.

#include <cstdint>
#include <optional>
#include <string>

namespace engine {

// The value of a pixel without an NDVI (both bands 0): the rasters' no-data.
inline constexpr float kNdviMarker = -10.0f;

struct BandCalibration {
    float dnWhite = 255;  // the white panel's byte
    float rWhite = 1;     // its reflectance, 0..1
    float dnDark = 0;     // the dark target's byte
    float rDark = 0;      // its reflectance, 0..1

    bool isPlainRatio() const noexcept { return rWhite == 1 && dnDark == 0 && rDark == 0; }
    friend bool operator==(const BandCalibration&, const BandCalibration&) = default;
};

struct NdviModel {
    BandCalibration nir;  // the red byte
    BandCalibration red;  // the green byte

    static NdviModel plain(float nirWhite, float redWhite)
    {
        NdviModel m;
        m.nir.dnWhite = nirWhite;
        m.red.dnWhite = redWhite;
        return m;
    }
    friend bool operator==(const NdviModel&, const NdviModel&) = default;
};

// Why the model cannot be used, in the words shown to the user; nothing when it can.
// A white panel's byte and reflectance must lie above the dark target's, and every
// reflectance within 0..1.
std::optional<std::string> modelProblem(const NdviModel& model);

// One line for people and for the ENVI header's description, e.g.
// "NIR: 白色板 243 (反射率 0.92), 暗色板 12 (反射率 0.03); Red: ...".
std::string describeModel(const NdviModel& model);

// The header every front end writes beside an NDVI raster: the description names the
// calibration model the values were made with. indexLabel names the index the values
// are of (VegetationIndex::label), in the description and as the band's name.
std::string ndviEnviHeader(std::int64_t width, std::int64_t height, const NdviModel& model,
                           const std::string& indexLabel = "NDVI");

}  // namespace engine
