#include "batch/PhenologyChart.h"

#include "batch/Drawing.h"
#include "batch/PngWrite.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace batch {

namespace {

constexpr Colour kBackground{255, 255, 255}, kAxis{60, 60, 60}, kGrid{225, 225, 225}, kPoint{30, 60, 160},
    kFlagged{200, 40, 40}, kOutlier{230, 120, 0}, kCurve{20, 150, 60}, kDate{120, 120, 120}, kBar{40, 40, 40};
constexpr int kLeft = 80, kRight = kChartWidth - 24, kTop = 44, kBottom = 370;
constexpr int kBandTop = 404, kRow = 18;

const char* const kShortNames[engine::kPhenologyMetrics] = {"SOS", "MG", "MAT", "PK", "SEN", "MS", "EOS"};

void ring(RasterImage& image, double cx, double cy, double radius, bool filled, const Colour& colour)
{
    const int r = static_cast<int>(std::ceil(radius)) + 1;
    for (int y = -r; y <= r; ++y) {
        for (int x = -r; x <= r; ++x) {
            const double d = std::hypot(x, y);
            if (filled ? d <= radius : std::abs(d - radius) <= 0.75) {
                fillBox(image, static_cast<int>(std::lround(cx)) + x, static_cast<int>(std::lround(cy)) + y,
                        static_cast<int>(std::lround(cx)) + x, static_cast<int>(std::lround(cy)) + y, colour);
            }
        }
    }
}

// A step of 1, 2 or 5 times a power of ten giving at most about `most` steps over span.
double niceStep(double span, int most)
{
    const double rough = span / most;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= rough) return m * power;
    }
    return 10 * power;
}

std::string number(double v, double step)
{
    const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 6);
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::abs(v) < step / 1000 ? 0.0 : v);
    return text;
}

}  // namespace

std::string chartName(const std::string& region)
{
    std::string name;
    for (const char c : region) {
        const auto u = static_cast<unsigned char>(c);
        name += u < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos ? '_' : c;
    }
    if (name.empty() || name == "." || name == "..") name = "_" + name;
    return name + ".png";
}

std::vector<std::uint8_t> phenologyChartPng(const std::string& region, std::span<const engine::PhenologyPoint> points,
                                            const engine::PhenologyFit& fit, const std::string& column)
{
    RasterImage image(kChartWidth, kChartHeight, 3, 255);
    fillBox(image, 0, 0, kChartWidth - 1, kChartHeight - 1, kBackground);
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    bool any = false;
    const auto take = [&](double x, double y) {
        x0 = any ? std::min(x0, x) : x;
        x1 = any ? std::max(x1, x) : x;
        y0 = any ? std::min(y0, y) : y;
        y1 = any ? std::max(y1, y) : y;
        any = true;
    };
    for (const auto& p : points) take(p.day, p.value);
    for (std::size_t i = 0; i < fit.curveDays.size(); ++i) take(fit.curveDays[i], fit.curveValues[i]);
    if (x1 - x0 < 1) x1 = x0 + 1;
    if (y1 - y0 < 1e-6) y1 = y0 + 0.1;
    const double pad = (y1 - y0) * 0.06;
    y0 -= pad;
    y1 += pad;
    const auto px = [&](double day) { return kLeft + (day - x0) / (x1 - x0) * (kRight - kLeft); };
    const auto py = [&](double v) { return kBottom - (v - y0) / (y1 - y0) * (kBottom - kTop); };

    // The grid and the axes: values on the left, the days below as MM-DD.
    const double ys = niceStep(y1 - y0, 10);
    for (double v = std::ceil(y0 / ys) * ys; v <= y1; v += ys) {
        const int y = static_cast<int>(std::lround(py(v)));
        fillBox(image, kLeft, y, kRight, y, kGrid);
        const std::string label = number(v, ys);
        drawText(image, kLeft - 8 - textWidth(label, 1), y - 3, label, 1, kAxis);
    }
    const double spanDays = x1 - x0;
    double xs = 1;
    for (const double s : {1.0, 2.0, 5.0, 7.0, 14.0, 30.0, 61.0, 122.0, 365.0}) {
        xs = s;
        if (spanDays / s <= 10) break;
    }
    for (double d = std::ceil(x0 / xs) * xs; d <= x1; d += xs) {
        const int x = static_cast<int>(std::lround(px(d)));
        fillBox(image, x, kTop, x, kBottom, kGrid);
        const std::string label = engine::phenologyTime(d).substr(5, 5);
        drawText(image, x - textWidth(label, 1) / 2, kBottom + 8, label, 1, kAxis);
    }
    fillBox(image, kLeft, kTop, kLeft, kBottom, kAxis);
    fillBox(image, kLeft, kBottom, kRight, kBottom, kAxis);
    const std::string year = engine::phenologyTime(x0).substr(0, 4);
    drawText(image, kRight - textWidth(year, 1), kBottom + 20, year, 1, kAxis);

    // Each date through the plot, its interval in the band below.
    for (const engine::PhenologyDate& d : fit.dates) {
        const auto m = static_cast<std::size_t>(d.metric);
        const int row = kBandTop + static_cast<int>(m) * kRow;
        drawText(image, 16, row, kShortNames[m], 1, kBar);
        if (!d.day) {
            drawText(image, kLeft, row, "-", 1, kDate);
            continue;
        }
        const int x = static_cast<int>(std::lround(px(*d.day)));
        for (int y = kTop; y < kBottom; y += 6) fillBox(image, x, y, x, std::min(y + 2, kBottom), kDate);
        drawText(image, x + 3, kTop - 12 - (m % 2) * 9, kShortNames[m], 1, kDate);
        if (d.low && d.high) {
            const int a = static_cast<int>(std::lround(px(*d.low))), b = static_cast<int>(std::lround(px(*d.high)));
            fillBox(image, a, row + 3, b, row + 3, kBar);
            fillBox(image, a, row, a, row + 6, kBar);
            fillBox(image, b, row, b, row + 6, kBar);
        }
        fillBox(image, x - 2, row + 1, x + 2, row + 5, kCurve);
        const std::string when = engine::phenologyTime(*d.day).substr(5, 5);
        drawText(image, kRight - textWidth(when, 1), row, when, 1, kBar);
    }

    for (std::size_t i = 1; i < fit.curveDays.size(); ++i) {
        drawLine(image, px(fit.curveDays[i - 1]), py(fit.curveValues[i - 1]), px(fit.curveDays[i]), py(fit.curveValues[i]), 2,
                 kCurve);
    }
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto& p = points[i];
        const double x = px(p.day), y = py(p.value);
        if (p.flagged) {
            ring(image, x, y, 3.5, false, kFlagged);
        } else if (fit.method != engine::PhenologyMethod::None && i < fit.weights.size() && fit.weights[i] == 0) {
            drawLine(image, x - 3, y - 3, x + 3, y + 3, 1, kOutlier);
            drawLine(image, x - 3, y + 3, x + 3, y - 3, 1, kOutlier);
        } else {
            ring(image, x, y, 3, true, kPoint);
        }
    }

    const std::string title = region + "  " + column + "  " + engine::phenologyMethodName(fit.method);
    drawText(image, kLeft, 8, title, 2, kAxis);
    return encodePng(image);
}

}  // namespace batch
