#pragma once
// Seasons with known plots, made in code for the phenology tests: each plot's true curve
// a double logistic with a base of its own before and after the season; frames every 2
// to 6 days with a fortnight's gap; noise; frames whose panel failed (flagged, their
// values far off); cloud shadows nobody flagged (one plot's value well down on a
// frame); and a bare plot whose values only carry the noise. The true dates are found
// on the true curve by bisection, from the definitions, not by the code under test.

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct TrueCurve {
    double b1, b2, top, m1, s1, m2, s2;
    double at(double t) const
    {
        const double r = 1 / (1 + std::exp(-(t - m1) / s1));
        const double fallen = 1 / (1 + std::exp(-(t - m2) / s2));
        return b1 + (top - b1) * r - (top - b2) * fallen;
    }
};

// start_of_season, mid_greenup, maturity, peak, senescence, mid_senescence, end_of_season:
// the peak the curve's highest point, each limb's dates where it crosses 10, 50 and 90 %
// of its rise above its own base (b1 rising, b2 falling).
inline std::array<double, 7> trueDates(const TrueCurve& c, double first, double last)
{
    double peak = first;
    for (double t = first; t <= last; t += 0.001) {
        if (c.at(t) > c.at(peak)) peak = t;
    }
    const double top = c.at(peak);
    const auto cross = [&](double a, double b, double level) {  // c.at(a) < level <= c.at(b) or the reverse
        const bool up = c.at(a) < level;
        for (int i = 0; i < 200; ++i) {
            const double m = (a + b) / 2;
            ((c.at(m) < level) == up ? a : b) = m;
        }
        return (a + b) / 2;
    };
    std::array<double, 7> d{};
    d[0] = cross(first - 100, peak, c.b1 + 0.1 * (top - c.b1));
    d[1] = cross(first - 100, peak, c.b1 + 0.5 * (top - c.b1));
    d[2] = cross(first - 100, peak, c.b1 + 0.9 * (top - c.b1));
    d[3] = peak;
    d[4] = cross(peak, last + 100, c.b2 + 0.9 * (top - c.b2));
    d[5] = cross(peak, last + 100, c.b2 + 0.5 * (top - c.b2));
    d[6] = cross(peak, last + 100, c.b2 + 0.1 * (top - c.b2));
    return d;
}

// A small generator of its own, so that the season is the same with every library.
struct SeasonRandom {
    std::uint64_t state;
    double unit()  // [0, 1)
    {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    }
    double normal()
    {
        const double u = std::max(unit(), 1e-12), v = unit();
        return std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
    }
};

struct MadeSeason {
    std::vector<double> days;        // the frames' days from the first
    std::vector<bool> flagged;       // the frame's panel failed
    std::vector<TrueCurve> curves;   // the plots with a season
    std::vector<std::vector<double>> values;  // [plot][frame]; the bare plot last
    std::vector<std::vector<bool>> shadowed;  // [plot][frame]: an outlier nobody flagged
    double noise = 0.02;
    double bare = 0.11;
};

inline constexpr double kSeasonDays = 230;
inline constexpr double kGapFrom = 100, kGapDays = 14;

// Four plots with seasons of different shapes, then the bare plot.
inline MadeSeason makeSeason(std::uint64_t seed)
{
    MadeSeason s;
    SeasonRandom random{seed * 0x9E3779B97F4A7C15u + 7};
    const TrueCurve base[] = {{0.15, 0.20, 0.85, 60, 6, 160, 8},
                              {0.10, 0.25, 0.75, 75, 4, 150, 7},
                              {0.20, 0.15, 0.80, 50, 8, 175, 6},
                              {0.12, 0.30, 0.75, 70, 5, 140, 7}};
    for (const TrueCurve& c : base) {
        TrueCurve moved = c;
        const double shift = 10 * (random.unit() - 0.5);
        moved.m1 += shift;
        moved.m2 += shift + 6 * (random.unit() - 0.5);
        s.curves.push_back(moved);
    }
    for (double day = 2 * random.unit(); day <= kSeasonDays; day += 2 + 4 * random.unit()) {
        if (day >= kGapFrom && day < kGapFrom + kGapDays) continue;
        s.days.push_back(day);
    }
    // Three frames whose panel failed, their values far off on every plot.
    s.flagged.assign(s.days.size(), false);
    for (int k = 0; k < 3; ++k) s.flagged[static_cast<std::size_t>(random.unit() * static_cast<double>(s.days.size()))] = true;
    const std::size_t plots = s.curves.size() + 1;
    s.values.assign(plots, std::vector<double>(s.days.size()));
    s.shadowed.assign(plots, std::vector<bool>(s.days.size(), false));
    for (std::size_t p = 0; p < plots; ++p) {
        for (int k = 0; k < 2; ++k) s.shadowed[p][static_cast<std::size_t>(random.unit() * static_cast<double>(s.days.size()))] = true;
        for (std::size_t f = 0; f < s.days.size(); ++f) {
            double v = (p < s.curves.size() ? s.curves[p].at(s.days[f]) : s.bare) + s.noise * random.normal();
            if (s.shadowed[p][f]) v -= 0.3;
            if (s.flagged[f]) v += f % 2 ? 0.45 : -0.35;
            s.values[p][f] = v;
        }
    }
    return s;
}

}  // namespace testing_support
