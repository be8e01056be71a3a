#include "engine/calibration/Calibration.h"

#include "engine/formats/EnviHeader.h"
#include "engine/formats/ShortestText.h"

#include <cmath>

namespace engine {

namespace {

bool isReflectance(float r) { return std::isfinite(r) && r >= 0 && r <= 1; }

std::optional<std::string> bandProblem(const BandCalibration& band, const char* name)
{
    if (!(band.dnWhite > band.dnDark)) {
        return std::string(name) + ": 白色板の値 (" + shortestText(band.dnWhite) + ") は暗色板の値 (" + shortestText(band.dnDark)
               + ") より大きくなければなりません";
    }
    if (!isReflectance(band.rWhite) || !isReflectance(band.rDark)) {
        return std::string(name) + ": 反射率は 0 から 1 の範囲で指定してください";
    }
    // A white panel no brighter than the dark target gives no line to read by (a white
    // reflectance of 0 would make every pixel the marker).
    if (!(band.rWhite > band.rDark)) {
        return std::string(name) + ": 白色板の反射率は暗色板の反射率より大きくなければなりません";
    }
    return std::nullopt;
}

std::string describeBand(const BandCalibration& band, const char* name)
{
    std::string text = std::string(name) + ": 白色板 " + shortestText(band.dnWhite) + " (反射率 " + shortestText(band.rWhite) + ")";
    if (band.dnDark != 0 || band.rDark != 0) {
        text += ", 暗色板 " + shortestText(band.dnDark) + " (反射率 " + shortestText(band.rDark) + ")";
    }
    return text;
}

}  // namespace

std::optional<std::string> modelProblem(const NdviModel& model)
{
    if (auto p = bandProblem(model.nir, "NIR")) return p;
    return bandProblem(model.red, "Red");
}

std::string describeModel(const NdviModel& model)
{
    return describeBand(model.nir, "NIR") + "; " + describeBand(model.red, "Red");
}

std::string ndviEnviHeader(std::int64_t width, std::int64_t height, const NdviModel& model,
                           const std::string& indexLabel)
{
    return enviHeaderText(width, height, indexLabel + ", " + describeModel(model), indexLabel);
}

}  // namespace engine
