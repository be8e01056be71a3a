#include "engine/calibration/Panel.h"

#include "engine/formats/PictureReader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace engine {

namespace {

// Wide enough for the sums of squares of any picture the reader takes.
__extension__ using Wide = unsigned __int128;

struct Sums {
    Wide sum = 0;
    Wide squares = 0;
};

Sums sumsOf(const ByteCounts& counts)
{
    Sums s;
    for (unsigned v = 0; v < 256; ++v) {
        s.sum += static_cast<Wide>(counts[v]) * v;
        s.squares += static_cast<Wide>(counts[v]) * v * v;
    }
    return s;
}

int maximum(const ByteCounts& counts) noexcept
{
    for (int v = 255; v > 0; --v) {
        if (counts[static_cast<std::size_t>(v)] != 0) return v;
    }
    return 0;
}

// Standard deviation over mean above 3 %, decided in integers: with n pixels, sum S
// and sum of squares Q, n^2 variance = nQ - S^2, so the test is
// 10000 (nQ - S^2) > 9 S^2. A band all at 0 has no variation to speak of.
bool uneven(const ByteCounts& counts, std::uint64_t n)
{
    const Sums s = sumsOf(counts);
    const Wide spread = n * s.squares - s.sum * s.sum;
    return s.sum != 0 && 10000 * spread > 9 * s.sum * s.sum;
}

double variationPercent(const ByteCounts& counts, std::uint64_t n)
{
    const Sums s = sumsOf(counts);
    if (s.sum == 0) return 0;
    const auto spread = static_cast<long double>(n * s.squares - s.sum * s.sum);
    return static_cast<double>(100 * std::sqrt(spread) / static_cast<long double>(s.sum));
}

std::string oneDecimal(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

}  // namespace

const char* whiteFromName(WhiteFrom from) noexcept
{
    switch (from) {
    case WhiteFrom::Maximum: return "max";
    case WhiteFrom::Mean: return "mean";
    case WhiteFrom::Percentile99: return "p99";
    }
    return "max";
}

std::optional<WhiteFrom> whiteFromByName(std::string_view name) noexcept
{
    for (const WhiteFrom from : {WhiteFrom::Maximum, WhiteFrom::Mean, WhiteFrom::Percentile99}) {
        if (name == whiteFromName(from)) return from;
    }
    return std::nullopt;
}

bool insidePicture(const Rectangle& r, std::int64_t width, std::int64_t height) noexcept
{
    return 0 <= r.x1 && r.x1 <= r.x2 && r.x2 < width && 0 <= r.y1 && r.y1 <= r.y2 && r.y2 < height;
}

std::vector<PanelPixels> countPixels(PictureReader& reader, std::span<const Rectangle> rectangles)
{
    std::vector<PanelPixels> result(rectangles.size());
    if (rectangles.empty()) return result;
    std::int64_t top = rectangles[0].y1;
    std::int64_t bottom = rectangles[0].y2;
    for (const Rectangle& r : rectangles) {
        top = std::min(top, r.y1);
        bottom = std::max(bottom, r.y2);
    }
    RowStream rows(reader, RowStream::Order::TopFirst, top, bottom);
    for (std::int64_t y = top; y <= bottom; ++y) {
        const std::uint8_t* row = rows.next();
        for (std::size_t i = 0; i < rectangles.size(); ++i) {
            const Rectangle& r = rectangles[i];
            if (y < r.y1 || y > r.y2) continue;
            PanelPixels& p = result[i];
            const std::uint8_t* px = row + 3 * r.x1;
            for (std::int64_t x = r.x1; x <= r.x2; ++x, px += 3) {
                ++p.red[px[1]];
                ++p.nir[px[2]];
            }
            p.pixels += static_cast<std::uint64_t>(r.x2 - r.x1 + 1);
        }
    }
    return result;
}

int percentile99(const ByteCounts& counts, std::uint64_t total) noexcept
{
    const std::uint64_t rank = (99 * total + 99) / 100;  // ceil(0.99 * total)
    std::uint64_t seen = 0;
    for (int v = 0; v < 256; ++v) {
        seen += counts[static_cast<std::size_t>(v)];
        if (seen >= rank && seen > 0) return v;
    }
    return 255;
}

int roundedMean(const ByteCounts& counts, std::uint64_t total) noexcept
{
    if (total == 0) return 0;
    // floor(S / n + 1/2) = floor((2S + n) / 2n): half away from zero for S >= 0.
    const Sums s = sumsOf(counts);
    return static_cast<int>((2 * s.sum + total) / (2 * static_cast<Wide>(total)));
}

int whiteValue(const ByteCounts& counts, std::uint64_t total, WhiteFrom from) noexcept
{
    int v = maximum(counts);
    if (from == WhiteFrom::Mean) v = roundedMean(counts, total);
    if (from == WhiteFrom::Percentile99) v = percentile99(counts, total);
    return std::clamp(v, 1, 255);
}

float darkValue(const ByteCounts& counts, std::uint64_t total) noexcept
{
    if (total == 0) return 0;
    const Sums s = sumsOf(counts);
    const long double mean = static_cast<long double>(s.sum) / static_cast<long double>(total);
    return std::clamp(static_cast<float>(mean), 0.0f, 254.0f);
}

std::vector<PanelWarning> panelChecks(const PanelPixels& white, int nirWhite, int redWhite)
{
    std::vector<PanelWarning> warnings;
    const std::uint64_t nirSaturated = white.nir[255];
    const std::uint64_t redSaturated = white.red[255];
    if (nirSaturated + redSaturated > 0) {
        warnings.push_back({PanelCheck::Saturated, "白色板の範囲に 255 で飽和した画素があります（NIR " + std::to_string(nirSaturated)
                                                       + " 画素、Red " + std::to_string(redSaturated)
                                                       + " 画素）。露出を下げて撮影してください"});
    }
    if (uneven(white.nir, white.pixels) || uneven(white.red, white.pixels)) {
        warnings.push_back({PanelCheck::Uneven, "白色板の範囲の明るさが一様ではありません（変動係数 NIR "
                                                    + oneDecimal(variationPercent(white.nir, white.pixels)) + " %、Red "
                                                    + oneDecimal(variationPercent(white.red, white.pixels))
                                                    + " %、上限 3 %）。照明のむらか、白色板以外のものが範囲に入っています"});
    }
    if (nirWhite < kDimWhiteBelow || redWhite < kDimWhiteBelow) {
        warnings.push_back({PanelCheck::Dim, "白色板の値が 100 未満です（NIR " + std::to_string(nirWhite) + "、Red "
                                                 + std::to_string(redWhite) + "）。露出が足りないか、白色板ではありません"});
    }
    return warnings;
}

DarkSpread darkSpread(const PanelPixels& dark)
{
    DarkSpread d;
    d.pixels = dark.pixels;
    d.nirSaturated = dark.nir[255];
    d.redSaturated = dark.red[255];
    if (dark.pixels == 0) return d;
    const auto band = [n = dark.pixels](const ByteCounts& counts, double& mean, double& deviation) {
        const Sums s = sumsOf(counts);
        const auto nn = static_cast<long double>(n);
        const auto spread = static_cast<long double>(n * s.squares - s.sum * s.sum);
        mean = static_cast<double>(static_cast<long double>(s.sum) / nn);
        deviation = static_cast<double>(std::sqrt(spread) / nn);
    };
    band(dark.nir, d.nirMean, d.nirDeviation);
    band(dark.red, d.redMean, d.redDeviation);
    return d;
}

DarkSpread darkSpread(std::span<const float> nir, std::span<const float> red, std::uint64_t nirSaturated,
                      std::uint64_t redSaturated)
{
    DarkSpread d;
    d.pixels = nir.size();
    d.nirSaturated = nirSaturated;
    d.redSaturated = redSaturated;
    const auto band = [](std::span<const float> values, double& mean, double& deviation) {
        if (values.empty()) return;
        long double sum = 0;
        for (const float v : values) sum += v;
        const long double m = sum / values.size();
        long double squares = 0;
        for (const float v : values) squares += (v - m) * (v - m);
        mean = static_cast<double>(m);
        deviation = static_cast<double>(std::sqrt(squares / values.size()));
    };
    band(nir, d.nirMean, d.nirDeviation);
    band(red, d.redMean, d.redDeviation);
    return d;
}

std::vector<PanelWarning> darkChecks(const DarkSpread& dark, float nirDark, float redDark, float nirWhite,
                                     float redWhite)
{
    std::vector<PanelWarning> warnings;
    if (dark.nirSaturated + dark.redSaturated > 0) {
        warnings.push_back({PanelCheck::DarkSaturated, "暗色板の範囲に 255 で飽和した画素があります（NIR "
                                                           + std::to_string(dark.nirSaturated) + " 画素、Red "
                                                           + std::to_string(dark.redSaturated)
                                                           + " 画素）。暗色板以外のものが範囲に入っています"});
    }
    const auto uneven = [](double mean, double deviation) {
        return deviation > kDarkUnevenLevels && 100 * deviation > kDarkUnevenPercent * mean;
    };
    if (uneven(dark.nirMean, dark.nirDeviation) || uneven(dark.redMean, dark.redDeviation)) {
        warnings.push_back({PanelCheck::DarkUneven, "暗色板の範囲の明るさが一様ではありません（NIR 平均 " + oneDecimal(dark.nirMean)
                                                        + "、標準偏差 " + oneDecimal(dark.nirDeviation) + "、Red 平均 "
                                                        + oneDecimal(dark.redMean) + "、標準偏差 "
                                                        + oneDecimal(dark.redDeviation)
                                                        + "）。土や草、影の縁など暗色板以外のものが範囲に入っています"});
    }
    // dark > white / 2, in doubles so that nothing is rounded.
    if (2.0 * nirDark > nirWhite || 2.0 * redDark > redWhite) {
        warnings.push_back({PanelCheck::DarkBright, "暗色板の値が白色板の値の半分を超えています（NIR 暗色板 "
                                                        + oneDecimal(nirDark) + "、白色板 " + oneDecimal(nirWhite)
                                                        + "、Red 暗色板 " + oneDecimal(redDark) + "、白色板 "
                                                        + oneDecimal(redWhite)
                                                        + "）。範囲が暗色板から外れているか、暗色板が明るすぎます"});
    }
    return warnings;
}

}  // namespace engine
