#pragma once
// A season's table worked out for the tests from its definitions alone, pixel by pixel:
// nothing here calls the engine's regions or season code, so a fault in its scanlines,
// its counts or its order statistics cannot hide in the expected values.

#include "BmpFixture.h"
#include "NdviOracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace testing_support {

// A point given in quarters of a pixel: x = qx / 4. Every coordinate the tests use is
// a multiple of 0.25, so the membership test below is exact integer arithmetic.
struct QuarterPoint {
    std::int64_t qx, qy;
};

// Whether the centre of pixel (x, y) lies inside the polygon by the even-odd rule: a
// ray from the centre to the right crosses an odd number of edges, an edge counting
// when one end lies above the centre's line and the other at or below it.
inline bool centreInPolygon(std::int64_t x, std::int64_t y, const std::vector<QuarterPoint>& polygon)
{
    const std::int64_t px = 4 * x + 2;
    const std::int64_t py = 4 * y + 2;
    bool inside = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const QuarterPoint a = polygon[j];
        const QuarterPoint b = polygon[i];
        if ((a.qy > py) == (b.qy > py)) continue;
        // px < a.x + (py - a.y) (b.x - a.x) / (b.y - a.y), multiplied out by b.y - a.y.
        const std::int64_t lhs = (px - a.qx) * (b.qy - a.qy);
        const std::int64_t rhs = (py - a.qy) * (b.qx - a.qx);
        if (b.qy > a.qy ? lhs < rhs : lhs > rhs) inside = !inside;
    }
    return inside;
}

// A plot, panel or dark target as the tests describe it: a rectangle with its corners
// included, or a polygon.
struct OracleRegion {
    std::string name;
    std::int64_t x1 = 0, y1 = 0, x2 = -1, y2 = -1;  // the rectangle, when polygon is empty
    std::vector<QuarterPoint> polygon;

    bool holds(std::int64_t x, std::int64_t y) const
    {
        if (!polygon.empty()) return centreInPolygon(x, y, polygon);
        return x1 <= x && x <= x2 && y1 <= y && y <= y2;
    }
};

// The pixels of a region inside a width x height picture, row by row from the top.
inline std::vector<Pixel> pixelsOf(const OracleRegion& region, const Picture& picture)
{
    std::vector<Pixel> pixels;
    for (std::int64_t y = 0; y < picture.height; ++y) {
        for (std::int64_t x = 0; x < picture.width; ++x) {
            if (region.holds(x, y)) pixels.push_back(picture.at(static_cast<int>(x), static_cast<int>(y)));
        }
    }
    return pixels;
}

// A small frame of a season made in code: three plots (a rectangle with saturated
// pixels, a concave polygon, a polygon of fractional vertices whose name needs quoting
// in a CSV), a plot of bare black soil whose pixels are all no-data, a white panel and a
// dark target (a polygon), everything scaled by the frame's light.
struct SeasonScene {
    std::vector<OracleRegion> plots;
    OracleRegion white, dark;
    static constexpr std::int32_t kWidth = 48, kHeight = 36;

    SeasonScene()
    {
        plots.push_back({"A1", 2, 2, 13, 9, {}});
        plots.push_back({"A2", 0, 0, -1, -1, {{64, 8}, {120, 8}, {120, 56}, {104, 56}, {104, 24}, {80, 24}, {80, 56}, {64, 56}}});
        plots.push_back({"A3, \"east\"", 0, 0, -1, -1, {{130, 10}, {186, 22}, {170, 70}, {138, 61}}});
        plots.push_back({"bare", 2, 20, 9, 27, {}});
        white = {"panel", 12, 20, 19, 27, {}};
        dark = {"dark", 0, 0, -1, -1, {{88, 80}, {122, 82}, {96, 122}}};
    }

    // The regions file of the scene, the white and dark regions as asked.
    std::string regionsJson(bool withWhite = true, bool withDark = true) const
    {
        const auto quarter = [](std::int64_t q) {
            char text[32];
            std::snprintf(text, sizeof text, "%.2f", static_cast<double>(q) / 4);
            return std::string(text);
        };
        const auto one = [&](const OracleRegion& r, const char* role) {
            std::string name;
            for (const char c : r.name) name += c == '"' ? std::string("\\\"") : std::string(1, c);
            std::string text = "{\"name\": \"" + name + "\", ";
            if (r.polygon.empty()) {
                text += "\"rect\": [" + std::to_string(r.x1) + ", " + std::to_string(r.y1) + ", " + std::to_string(r.x2)
                        + ", " + std::to_string(r.y2) + "]";
            } else {
                text += "\"polygon\": [";
                for (std::size_t i = 0; i < r.polygon.size(); ++i) {
                    text += (i ? ", [" : "[") + quarter(r.polygon[i].qx) + ", " + quarter(r.polygon[i].qy) + "]";
                }
                text += "]";
            }
            if (role) text += std::string(", \"role\": \"") + role + "\"";
            return text + "}";
        };
        std::string text = "{\"regions\": [";
        // The panel first: the table keeps the plots' order whatever the roles' places.
        if (withWhite) text += one(white, "white") + ", ";
        for (std::size_t i = 0; i < plots.size(); ++i) text += (i ? ", " : "") + one(plots[i], nullptr);
        if (withDark) text += ", " + one(dark, "dark");
        return text + "]}";
    }

    // The frame under light (1 as the panel was meant to be lit); seed varies the plants.
    Picture picture(double light, std::uint32_t seed) const
    {
        Picture p;
        p.width = kWidth;
        p.height = kHeight;
        const auto scaled = [&](int v) { return static_cast<std::uint8_t>(std::min(255L, std::lround(v * light))); };
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                std::uint32_t h = (static_cast<std::uint32_t>(x) * 73856093u) ^ (static_cast<std::uint32_t>(y) * 19349663u)
                                  ^ (seed * 83492791u);
                h ^= h >> 13;
                h *= 0x5bd1e995u;
                h ^= h >> 15;
                int nir = 60 + static_cast<int>(h % 190);
                int red = 10 + static_cast<int>((h >> 8) % 150);
                if (white.holds(x, y)) {
                    nir = 236 + static_cast<int>(h % 5);
                    red = 228 + static_cast<int>((h >> 8) % 5);
                } else if (dark.holds(x, y)) {
                    nir = 10 + static_cast<int>(h % 5);
                    red = 12 + static_cast<int>((h >> 8) % 4);
                } else if (plots[3].holds(x, y) || h % 19 == 0) {
                    nir = red = 0;
                }
                Pixel px{static_cast<std::uint8_t>(h >> 16), scaled(red), scaled(nir)};
                if (plots[0].holds(x, y) && h % 13 == 0) px.r = 255;
                if (plots[0].holds(x, y) && h % 13 == 1) px.g = 255;
                p.pixels.push_back(px);
            }
        }
        return p;
    }
};

// How the oracle calibrates a frame: fixed targets, or the frame's own white region
// (and dark region) with these reflectances.
struct OracleCalibration {
    std::optional<NdviTargets> fixed;
    enum class From { Max, Mean, P99 } from = From::Max;
    float panelNir = 1, panelRed = 1;  // the panel's reflectances
    float darkNir = 0, darkRed = 0;    // the dark target's reflectances
};

// One row of the table as the definitions give it.
struct OracleRow {
    std::string file, time, region;
    std::uint64_t pixels = 0, nodata = 0, saturated = 0;
    std::optional<double> mean, stddev;
    std::optional<float> min, p05, median, p95, max;
    double nirMean = 0, redMean = 0;
    float nirWhite = 0, redWhite = 0;
    std::string warning;
    std::optional<float> nirDark, redDark;  // none without a dark target
};

namespace season_oracle_detail {

inline std::vector<int> bandBytes(const std::vector<Pixel>& pixels, bool nir)
{
    std::vector<int> bytes;
    for (const Pixel& p : pixels) bytes.push_back(nir ? p.r : p.g);
    std::sort(bytes.begin(), bytes.end());
    return bytes;
}

// ceil(p / 100 * n), the 1-based place of a nearest-rank percentile.
inline std::size_t rankOf(int p, std::size_t n)
{
    std::size_t rank = (static_cast<std::size_t>(p) * n + 99) / 100;
    return rank == 0 ? 1 : rank;
}

// floor(sum / n + 1/2): the mean rounded half up.
inline int roundedMean(const std::vector<int>& bytes)
{
    if (bytes.empty()) return 0;
    long long sum = 0;
    for (int b : bytes) sum += b;
    const long long n = static_cast<long long>(bytes.size());
    return static_cast<int>((2 * sum + n) / (2 * n));
}

inline int whiteOf(const std::vector<int>& sorted, OracleCalibration::From from)
{
    int v = 0;
    if (!sorted.empty()) {
        if (from == OracleCalibration::From::Max) v = sorted.back();
        if (from == OracleCalibration::From::Mean) v = roundedMean(sorted);
        if (from == OracleCalibration::From::P99) v = sorted[rankOf(99, sorted.size()) - 1];
    }
    return std::clamp(v, 1, 255);
}

// Population coefficient of variation above 3 %.
inline bool unevenBand(const std::vector<int>& bytes)
{
    long double sum = 0;
    for (int b : bytes) sum += b;
    if (sum == 0) return false;
    const long double mean = sum / bytes.size();
    long double squares = 0;
    for (int b : bytes) squares += (b - mean) * (b - mean);
    return std::sqrt(squares / bytes.size()) / mean > 0.03L;
}

// The mean of the bytes, rounded once to a float.
inline float exactMean(const std::vector<int>& bytes)
{
    if (bytes.empty()) return 0;
    long long sum = 0;
    for (int b : bytes) sum += b;
    return static_cast<float>(static_cast<long double>(sum) / static_cast<long double>(bytes.size()));
}

// Population standard deviation.
inline long double deviationOf(const std::vector<int>& bytes)
{
    long double sum = 0;
    for (int b : bytes) sum += b;
    const long double mean = sum / bytes.size();
    long double squares = 0;
    for (int b : bytes) squares += (b - mean) * (b - mean);
    return std::sqrt(squares / bytes.size());
}

// A dark target's band spread beyond 2 levels and beyond 15 % of its mean.
inline bool unevenDark(const std::vector<int>& bytes)
{
    long double sum = 0;
    for (int b : bytes) sum += b;
    const long double deviation = deviationOf(bytes);
    return deviation > 2 && deviation > 0.15L * (sum / bytes.size());
}

}  // namespace season_oracle_detail

// The rows of one frame: one per plot, in order.
inline std::vector<OracleRow> oracleRows(const Picture& picture, const std::string& file, const std::string& time,
                                         const std::vector<OracleRegion>& plots, const OracleRegion* white,
                                         const OracleRegion* dark, const OracleCalibration& calibration)
{
    using namespace season_oracle_detail;
    NdviTargets targets;
    std::string warning;
    bool hasDark = false;
    if (calibration.fixed) {
        targets = *calibration.fixed;
        hasDark = targets.nir.dnDark != 0 || targets.red.dnDark != 0 || targets.nir.rDark != 0 || targets.red.rDark != 0;
    } else {
        const std::vector<Pixel> panel = pixelsOf(*white, picture);
        const auto nir = bandBytes(panel, true);
        const auto red = bandBytes(panel, false);
        targets.nir = {static_cast<float>(whiteOf(nir, calibration.from)), calibration.panelNir, 0, 0};
        targets.red = {static_cast<float>(whiteOf(red, calibration.from)), calibration.panelRed, 0, 0};
        std::vector<int> darkNir, darkRed;
        if (dark) {
            hasDark = true;
            const std::vector<Pixel> target = pixelsOf(*dark, picture);
            darkNir = bandBytes(target, true);
            darkRed = bandBytes(target, false);
            targets.nir.dnDark = std::min(exactMean(darkNir), 254.0f);
            targets.red.dnDark = std::min(exactMean(darkRed), 254.0f);
            targets.nir.rDark = calibration.darkNir;
            targets.red.rDark = calibration.darkRed;
        }
        std::vector<std::string> failed;
        if (nir.back() == 255 || red.back() == 255) failed.push_back("saturated");
        if (unevenBand(nir) || unevenBand(red)) failed.push_back("uneven");
        if (targets.nir.dnWhite < 100 || targets.red.dnWhite < 100) failed.push_back("dim");
        if (dark) {
            if (darkNir.back() == 255 || darkRed.back() == 255) failed.push_back("dark_saturated");
            if (unevenDark(darkNir) || unevenDark(darkRed)) failed.push_back("dark_uneven");
            if (2.0 * targets.nir.dnDark > targets.nir.dnWhite || 2.0 * targets.red.dnDark > targets.red.dnWhite) {
                failed.push_back("dark_bright");
            }
        }
        for (const auto& f : failed) warning += (warning.empty() ? "" : ";") + f;
    }

    std::vector<OracleRow> rows;
    for (const OracleRegion& plot : plots) {
        OracleRow row;
        row.file = file;
        row.time = time;
        row.region = plot.name;
        row.nirWhite = targets.nir.dnWhite;
        row.redWhite = targets.red.dnWhite;
        row.warning = warning;
        if (hasDark) {
            row.nirDark = targets.nir.dnDark;
            row.redDark = targets.red.dnDark;
        }
        const std::vector<Pixel> pixels = pixelsOf(plot, picture);
        row.pixels = pixels.size();
        std::vector<float> values;
        std::uint64_t nirSum = 0, redSum = 0;
        for (const Pixel& p : pixels) {
            nirSum += p.r;
            redSum += p.g;
            if (p.r == 255 || p.g == 255) ++row.saturated;
            const float v = oracleNdvi(p.r, p.g, targets);
            if (v == -10.0f) {
                ++row.nodata;
            } else {
                values.push_back(v);
            }
        }
        row.nirMean = static_cast<double>(nirSum) / static_cast<double>(pixels.size());
        row.redMean = static_cast<double>(redSum) / static_cast<double>(pixels.size());
        if (!values.empty()) {
            std::sort(values.begin(), values.end());
            const std::size_t n = values.size();
            long double sum = 0;
            for (float v : values) sum += v;
            const long double mean = sum / n;
            long double squares = 0;
            for (float v : values) squares += (v - mean) * (v - mean);
            row.mean = static_cast<double>(mean);
            row.stddev = static_cast<double>(std::sqrt(squares / n));
            row.min = values.front();
            row.max = values.back();
            row.p05 = values[rankOf(5, n) - 1];
            row.median = values[rankOf(50, n) - 1];
            row.p95 = values[rankOf(95, n) - 1];
        }
        rows.push_back(row);
    }
    return rows;
}

// The fields of a CSV text by RFC 4180: quoted fields may hold commas, doubled quotes
// and line ends. One vector per record.
inline std::vector<std::vector<std::string>> parseCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
        } else if (c == '\n') {
            record.push_back(field);
            field.clear();
            records.push_back(record);
            record.clear();
        } else {
            field += c;
        }
    }
    return records;
}


// Checks the table's records against the oracle's rows: counts, order statistics, the
// byte means, the white and the dark values exactly (each number must read back as the very
// double), the NDVI mean and deviation to 1e-12 relative, the texts as they are.
inline void expectRows(const std::vector<std::vector<std::string>>& records, const std::vector<OracleRow>& rows)
{
    ASSERT_EQ(records.size(), rows.size());
    const auto exact = [](const std::string& field, auto expected, const char* name) {
        if (!expected) {
            EXPECT_EQ(field, "") << name;
            return;
        }
        EXPECT_EQ(std::stod(field), static_cast<double>(*expected)) << name << " " << field;
    };
    const auto close = [](const std::string& field, const std::optional<double>& expected, const char* name) {
        if (!expected) {
            EXPECT_EQ(field, "") << name;
            return;
        }
        const double tolerance = std::max(std::abs(*expected) * 1e-12, 1e-300);
        EXPECT_NEAR(std::stod(field), *expected, tolerance) << name << " " << field;
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::vector<std::string>& f = records[i];
        const OracleRow& r = rows[i];
        SCOPED_TRACE(r.file + " " + r.region);
        ASSERT_EQ(f.size(), 20u);
        EXPECT_EQ(f[0], r.file);
        EXPECT_EQ(f[1], r.time);
        EXPECT_EQ(f[2], r.region);
        EXPECT_EQ(f[3], std::to_string(r.pixels));
        close(f[4], r.mean, "ndvi_mean");
        close(f[5], r.stddev, "ndvi_std");
        exact(f[6], r.min, "ndvi_min");
        exact(f[7], r.p05, "ndvi_p05");
        exact(f[8], r.median, "ndvi_median");
        exact(f[9], r.p95, "ndvi_p95");
        exact(f[10], r.max, "ndvi_max");
        EXPECT_EQ(f[11], std::to_string(r.nodata));
        exact(f[12], std::optional<double>(r.nirMean), "nir_mean");
        exact(f[13], std::optional<double>(r.redMean), "red_mean");
        EXPECT_EQ(f[14], std::to_string(r.saturated));
        exact(f[15], std::optional<float>(r.nirWhite), "nir_white");
        exact(f[16], std::optional<float>(r.redWhite), "red_white");
        EXPECT_EQ(f[17], r.warning);
        // The dark values as the floats used: each must read back as that very float.
        for (const auto& [field, expected, name] : {std::tuple{f[18], r.nirDark, "nir_dark"}, std::tuple{f[19], r.redDark, "red_dark"}}) {
            if (expected) {
                EXPECT_EQ(std::stof(field), *expected) << name << " " << field;
            } else {
                EXPECT_EQ(field, "") << name;
            }
        }
    }
}

}  // namespace testing_support
