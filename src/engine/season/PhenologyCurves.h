#pragma once
// The curves phenology fits to a region's season (Phenology.cpp reads the dates off
// them): a double logistic by Levenberg-Marquardt and a penalised spline, each made
// robust by Huber then Tukey weights. The season's own piece, not for use elsewhere.

#include "engine/season/Phenology.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace engine::phenologyparts {

constexpr double kDateStep = 0.1;  // days between the curve's samples when reading dates (linear between)
constexpr int kParameters = 7;
constexpr int kLimbPoints = 3;  // fitted points each end of a limb needs
// Of the bootstrap's fits, the share that must give a date for its percentiles to be
// an interval (a date the curve gives only sometimes has no honest 90 % interval).
constexpr double kBootstrapShare = 0.9;

// A small deterministic generator (SplitMix64): the same intervals on every system.
struct SplitMix {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

// The points a fit sees: unflagged, sorted by day.
struct Data {
    std::vector<double> t, y;
    double first = 0, last = 0;
    double low = 0, high = 0;  // the lowest and highest value
    // A limb steeper than this passes between two frames unseen: half the median interval
    // between frames, and never under half a day.
    double shortestScale = 0.5;
    double span() const { return last - first; }
};

// ---- The double logistic ----------------------------------------------------------
// f(t) = b1 + (top - b1) r(t) - (top - b2) (1 - g(t)), r rising from 0 to 1 about m1
// with scale s1, g falling from 1 to 0 about m2 with scale s2: b1 before the season,
// top in it, b2 after it, so each limb has its own base. The scales are fitted as
// their logarithms, so that they stay positive.
using Params = std::array<double, kParameters>;
enum { kB1, kB2, kTop, kM1, kLogS1, kM2, kLogS2 };

// ---- The penalised spline -------------------------------------------------------
// Cubic B-splines on equal segments over the span with a second-difference penalty
// (Eilers and Marx's P-spline): across a gap it bridges by the straightest curve.
struct Spline {
    double first = 0, width = 1;
    int segments = 1;
    std::vector<double> coefficients;  // segments + 3

    // The four bases that are not zero at t: the first's index and their values.
    int bases(double t, std::array<double, 4>& b) const
    {
        const double x = (t - first) / width;
        const int i = std::clamp(static_cast<int>(std::floor(x)), 0, segments - 1);
        const double u = x - i;
        b[0] = (1 - u) * (1 - u) * (1 - u) / 6;
        b[1] = (3 * u * u * u - 6 * u * u + 4) / 6;
        b[2] = (-3 * u * u * u + 3 * u * u + 3 * u + 1) / 6;
        b[3] = u * u * u / 6;
        return i;
    }
    double operator()(double t) const
    {
        std::array<double, 4> b;
        const int i = bases(t, b);
        double v = 0;
        for (int k = 0; k < 4; ++k) v += b[k] * coefficients[static_cast<std::size_t>(i + k)];
        return v;
    }
};

constexpr int kHuberRounds = 3, kTukeyRounds = 8;
struct RobustLogistic {
    Params p;
    std::vector<double> weights, residuals;
    double spread = 0;
};

struct RobustSpline {
    Spline s;
    double lambda = 1;
    std::vector<double> weights, residuals;
    double spread = 0, edf = 0;
};


// The median and the p-quantile (0..1, linear between ranks) of some values.
double median(std::vector<double> v);
double quantile(std::vector<double> v, double p);

// The double logistic at t, and its weighted least-squares fit from p.
double doubleLogistic(const Params& p, double t);
void levenbergMarquardt(Params& p, const Data& d, const std::vector<double>& w);
// Each point's leverage in the weighted fit at p.
std::vector<double> logisticLeverages(const Params& p, const Data& d, const std::vector<double>& w);
// The robust double logistic from several starts: the one of least criterion.
RobustLogistic bestLogistic(const Data& d);

// The penalised spline's weighted fit under the penalty lambda (false when its system
// cannot be solved), its effective degrees of freedom in edf when asked, and each
// point's leverage.
bool fitSpline(Spline& s, const Data& d, const std::vector<double>& w, double lambda, double* edf = nullptr);
std::vector<double> splineLeverages(const Spline& s, const Data& d, const std::vector<double>& w, double lambda);
// The robust spline, its penalty chosen by the data; nothing when no fit can be made.
std::optional<RobustSpline> robustSpline(const Data& d);

// The information criterion that chooses between the two curves: the robust residuals
// (bounded at bound) against the parameters spent.
double criterion(const std::vector<double>& residuals, double bound, double parameters);

}  // namespace engine::phenologyparts
