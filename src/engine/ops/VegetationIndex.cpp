#include "engine/ops/VegetationIndex.h"

#include "engine/calibration/Calibration.h"
#include "engine/formats/ShortestText.h"
#include "engine/ops/Kernels.h"

#include <array>
#include <charconv>
#include <cmath>

namespace engine {

namespace {

struct IndexName {
    IndexKind kind;
    const char* name;
    const char* label;
    const char* parameter;  // its letter, or nullptr for none
    double byDefault;
};

constexpr std::array<IndexName, 12> kIndices{{
    {IndexKind::Ndvi, "ndvi", "NDVI", nullptr, 0},
    {IndexKind::Sr, "sr", "SR", nullptr, 0},
    {IndexKind::Dvi, "dvi", "DVI", nullptr, 0},
    {IndexKind::Rdvi, "rdvi", "RDVI", nullptr, 0},
    {IndexKind::Savi, "savi", "SAVI", "L", 0.5},
    {IndexKind::Osavi, "osavi", "OSAVI", nullptr, 0},
    {IndexKind::Msavi2, "msavi2", "MSAVI2", nullptr, 0},
    {IndexKind::Evi2, "evi2", "EVI2", nullptr, 0},
    {IndexKind::Wdrvi, "wdrvi", "WDRVI", "a", 0.2},
    {IndexKind::Nli, "nli", "NLI", nullptr, 0},
    {IndexKind::Mnli, "mnli", "MNLI", "L", 0.5},
    {IndexKind::Tdvi, "tdvi", "TDVI", nullptr, 0},
}};

const IndexName& entry(IndexKind kind) noexcept
{
    return kIndices[static_cast<std::size_t>(kind)];
}

constexpr const char* kNames = "ndvi、sr、dvi、rdvi、savi[:L]、osavi、msavi2、evi2、wdrvi[:a]、nli、mnli[:L]、tdvi";

}  // namespace

bool VegetationIndex::hasParameter() const noexcept
{
    return entry(kind).parameter != nullptr;
}

const char* VegetationIndex::name() const noexcept
{
    return entry(kind).name;
}

std::string VegetationIndex::text() const
{
    return hasParameter() ? std::string(name()) + ":" + shortestText(parameter) : std::string(name());
}

std::string VegetationIndex::label() const
{
    const IndexName& e = entry(kind);
    std::string s = e.label;
    if (e.parameter) s += std::string(" (") + e.parameter + "=" + shortestText(parameter) + ")";
    return s;
}

std::variant<VegetationIndex, std::string> parseVegetationIndex(std::string_view text)
{
    const auto colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    for (const IndexName& e : kIndices) {
        if (name != e.name) continue;
        VegetationIndex index{e.kind, e.byDefault};
        if (colon == std::string_view::npos) return index;
        const std::string_view value = text.substr(colon + 1);
        if (!e.parameter) return std::string(e.name) + " はパラメーターを取りません: " + std::string(text);
        double v = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), v);
        if (value.empty() || error != std::errc() || end != value.data() + value.size() || !(v >= 0 && v <= 1)) {
            return std::string(e.name) + " の " + e.parameter + " には 0 から 1 までの数を指定してください: " +
                   std::string(text);
        }
        index.parameter = v;
        return index;
    }
    return "指数の名前は " + std::string(kNames) + " のいずれかです: " + std::string(text);
}

float indexOfReflectances(const VegetationIndex& index, float nirReflectance, float redReflectance)
{
    if (index.isNdvi()) return ndviOfReflectances(nirReflectance, redReflectance);
    if (nirReflectance == 0.0f && redReflectance == 0.0f) return kNdviMarker;
    const double n = nirReflectance, r = redReflectance, p = index.parameter;
    // Each formula as written, left to right; a zero divisor or a negative root is no
    // value, whatever the numerator.
    const auto ratio = [](double top, double bottom) { return bottom == 0 ? NAN : top / bottom; };
    const auto root = [](double x) { return x < 0 ? NAN : std::sqrt(x); };
    double v = NAN;
    switch (index.kind) {
    case IndexKind::Ndvi: break;
    case IndexKind::Sr: v = ratio(n, r); break;
    case IndexKind::Dvi: v = n - r; break;
    case IndexKind::Rdvi: v = ratio(n - r, root(n + r)); break;
    case IndexKind::Savi: v = ratio((1 + p) * (n - r), n + r + p); break;
    case IndexKind::Osavi: v = ratio(n - r, n + r + 0.16); break;
    case IndexKind::Msavi2: v = (2 * n + 1 - root((2 * n + 1) * (2 * n + 1) - 8 * (n - r))) / 2; break;
    case IndexKind::Evi2: v = ratio(2.5 * (n - r), n + 2.4 * r + 1); break;
    case IndexKind::Wdrvi: v = ratio(p * n - r, p * n + r); break;
    case IndexKind::Nli: v = ratio(n * n - r, n * n + r); break;
    case IndexKind::Mnli: v = ratio((1 + p) * (n * n - r), n * n + r + p); break;
    case IndexKind::Tdvi: v = ratio(1.5 * (n - r), root(n * n + r + 0.5)); break;
    }
    return std::isfinite(v) ? static_cast<float>(v) : kNdviMarker;
}

IndexRange indexRange(const VegetationIndex& index) noexcept
{
    switch (index.kind) {
    case IndexKind::Sr: return {0, 10, false};
    case IndexKind::Osavi: return {-1 / 1.16, 1 / 1.16, true};
    case IndexKind::Evi2: return {-2.5 / 3.4, 1.25, true};
    case IndexKind::Tdvi: return {-1.5 / std::sqrt(1.5), 1.5 / std::sqrt(1.5), true};
    default: return {-1, 1, true};
    }
}

}  // namespace engine
