#include "engine/calibration/FlatField.h"

#include "engine/calibration/FlatFieldTerms.h"
#include "engine/formats/PictureReader.h"
#include "engine/formats/ShortestText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace engine {

using namespace flatfield;

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

}  // namespace engine
