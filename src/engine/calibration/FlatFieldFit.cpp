#include "engine/calibration/FlatField.h"

#include "engine/calibration/FlatFieldTerms.h"
#include "engine/formats/PictureReader.h"
#include "runtime/Exceptions.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace engine {

using namespace flatfield;

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

}  // namespace engine
