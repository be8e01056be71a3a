#include "engine/season/Phenology.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <numeric>
#include <set>
#include <tuple>

namespace engine {

namespace {

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

double median(std::vector<double> v)
{
    if (v.empty()) return 0;
    const std::size_t m = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(m), v.end());
    const double upper = v[m];
    if (v.size() % 2) return upper;
    return (*std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(m)) + upper) / 2;
}

// The p-th quantile (0..1) by linear interpolation between order statistics.
double quantile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const double at = p * static_cast<double>(v.size() - 1);
    const auto i = static_cast<std::size_t>(std::floor(at));
    if (i + 1 >= v.size()) return v.back();
    return v[i] + (at - static_cast<double>(i)) * (v[i + 1] - v[i]);
}

// Solves a x = b in place (a is n x n, row-major) by elimination with partial pivoting;
// false when a is singular to working precision.
bool solve(std::vector<double> a, std::vector<double>& b, std::size_t n)
{
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r) {
            if (std::abs(a[r * n + c]) > std::abs(a[pivot * n + c])) pivot = r;
        }
        if (!(std::abs(a[pivot * n + c]) > 1e-300)) return false;
        if (pivot != c) {
            for (std::size_t k = 0; k < n; ++k) std::swap(a[c * n + k], a[pivot * n + k]);
            std::swap(b[c], b[pivot]);
        }
        for (std::size_t r = c + 1; r < n; ++r) {
            const double f = a[r * n + c] / a[c * n + c];
            if (f == 0) continue;
            for (std::size_t k = c; k < n; ++k) a[r * n + k] -= f * a[c * n + k];
            b[r] -= f * b[c];
        }
    }
    for (std::size_t c = n; c-- > 0;) {
        double s = b[c];
        for (std::size_t k = c + 1; k < n; ++k) s -= a[c * n + k] * b[k];
        b[c] = s / a[c * n + c];
    }
    return std::all_of(b.begin(), b.end(), [](double v) { return std::isfinite(v); });
}

// The inverse of a (n x n, row-major) by Gauss-Jordan with partial pivoting.
bool invert(std::vector<double> a, std::vector<double>& inverse, std::size_t n)
{
    inverse.assign(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) inverse[i * n + i] = 1;
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r) {
            if (std::abs(a[r * n + c]) > std::abs(a[pivot * n + c])) pivot = r;
        }
        if (!(std::abs(a[pivot * n + c]) > 1e-300)) return false;
        if (pivot != c) {
            for (std::size_t k = 0; k < n; ++k) {
                std::swap(a[c * n + k], a[pivot * n + k]);
                std::swap(inverse[c * n + k], inverse[pivot * n + k]);
            }
        }
        const double d = a[c * n + c];
        for (std::size_t k = 0; k < n; ++k) {
            a[c * n + k] /= d;
            inverse[c * n + k] /= d;
        }
        for (std::size_t r = 0; r < n; ++r) {
            const double f = a[r * n + c];
            if (r == c || f == 0) continue;
            for (std::size_t k = 0; k < n; ++k) {
                a[r * n + k] -= f * a[c * n + k];
                inverse[r * n + k] -= f * inverse[c * n + k];
            }
        }
    }
    return true;
}

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

double logistic(double u)
{
    return u >= 0 ? 1 / (1 + std::exp(-u)) : std::exp(u) / (1 + std::exp(u));
}

double doubleLogistic(const Params& p, double t)
{
    const double r = logistic((t - p[kM1]) / std::exp(p[kLogS1]));
    const double g = logistic(-(t - p[kM2]) / std::exp(p[kLogS2]));
    return p[kB1] + (p[kTop] - p[kB1]) * r - (p[kTop] - p[kB2]) * (1 - g);
}

void doubleLogisticGradient(const Params& p, double t, Params& d)
{
    const double s1 = std::exp(p[kLogS1]), s2 = std::exp(p[kLogS2]);
    const double u = (t - p[kM1]) / s1, v = (t - p[kM2]) / s2;
    const double r = logistic(u), g = logistic(-v);
    const double dr = r * (1 - r), dg = g * (1 - g);
    d[kB1] = 1 - r;
    d[kB2] = 1 - g;
    d[kTop] = r + g - 1;
    d[kM1] = (p[kTop] - p[kB1]) * dr * (-1 / s1);
    d[kLogS1] = (p[kTop] - p[kB1]) * dr * (-u);
    d[kM2] = (p[kTop] - p[kB2]) * dg / s2;
    d[kLogS2] = (p[kTop] - p[kB2]) * dg * v;
}

// Keeps the limbs' middles near the data and their scales between what the frames can
// show (Data::shortestScale) and the span.
void clampParams(Params& p, const Data& d)
{
    const double span = std::max(d.span(), 1.0);
    for (const int m : {kM1, kM2}) p[m] = std::clamp(p[m], d.first - span, d.last + span);
    // The levels within a range's reach of the values: limbs that cancel each other far
    // outside it would make bases of any size.
    const double range = std::max(d.high - d.low, 1e-9);
    for (const int b : {kB1, kB2, kTop}) p[b] = std::clamp(p[b], d.low - range, d.high + range);
    for (const int s : {kLogS1, kLogS2}) p[s] = std::clamp(p[s], std::log(d.shortestScale), std::log(span));
}

double weightedCost(const Params& p, const Data& d, const std::vector<double>& w)
{
    double c = 0;
    for (std::size_t i = 0; i < d.t.size(); ++i) {
        const double r = d.y[i] - doubleLogistic(p, d.t[i]);
        c += w[i] * r * r;
    }
    return c;
}

// Weighted least squares by Levenberg-Marquardt from p (seven parameters need no more).
void levenbergMarquardt(Params& p, const Data& d, const std::vector<double>& w)
{
    double cost = weightedCost(p, d, w);
    double lambda = 1e-3;
    for (int iteration = 0; iteration < 200; ++iteration) {
        std::vector<double> a(kParameters * kParameters, 0.0), g(kParameters, 0.0);
        Params grad{};
        for (std::size_t i = 0; i < d.t.size(); ++i) {
            if (w[i] == 0) continue;
            doubleLogisticGradient(p, d.t[i], grad);
            const double r = d.y[i] - doubleLogistic(p, d.t[i]);
            for (int j = 0; j < kParameters; ++j) {
                g[j] += w[i] * grad[j] * r;
                for (int k = 0; k < kParameters; ++k) a[j * kParameters + k] += w[i] * grad[j] * grad[k];
            }
        }
        bool improved = false;
        while (lambda < 1e12) {
            std::vector<double> damped = a, step = g;
            for (int j = 0; j < kParameters; ++j) damped[j * kParameters + j] += lambda * (a[j * kParameters + j] + 1e-12);
            if (solve(damped, step, kParameters)) {
                Params trial = p;
                for (int j = 0; j < kParameters; ++j) trial[j] += step[j];
                clampParams(trial, d);
                const double c = weightedCost(trial, d, w);
                if (c < cost) {
                    const double gain = cost - c;
                    p = trial;
                    lambda = std::max(lambda / 3, 1e-12);
                    improved = true;
                    if (gain <= 1e-12 * (cost + 1e-300)) return;
                    cost = c;
                    break;
                }
            }
            lambda *= 4;
        }
        if (!improved) return;
    }
}

// Each point's leverage under the double logistic, linearised at p: w_i g_i' A^-1 g_i
// with A = sum of w g g'.
std::vector<double> logisticLeverages(const Params& p, const Data& d, const std::vector<double>& w)
{
    std::vector<double> a(kParameters * kParameters, 0.0), inverse;
    Params g{};
    for (std::size_t i = 0; i < d.t.size(); ++i) {
        doubleLogisticGradient(p, d.t[i], g);
        for (int j = 0; j < kParameters; ++j) {
            for (int k = 0; k < kParameters; ++k) a[j * kParameters + k] += w[i] * g[j] * g[k];
        }
    }
    std::vector<double> h(d.t.size(), 0.0);
    if (!invert(a, inverse, kParameters)) return h;
    for (std::size_t i = 0; i < d.t.size(); ++i) {
        doubleLogisticGradient(p, d.t[i], g);
        double v = 0;
        for (int j = 0; j < kParameters; ++j) {
            for (int k = 0; k < kParameters; ++k) v += g[j] * inverse[j * kParameters + k] * g[k];
        }
        h[i] = w[i] * v;
    }
    return h;
}

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

Spline splineShape(const Data& d)
{
    Spline s;
    s.first = d.first;
    // A segment about every eight days: room for a limb of a week or two.
    s.segments = std::clamp(static_cast<int>(std::lround(d.span() / 8)), 4, 60);
    s.width = std::max(d.span(), 1e-6) / s.segments;
    return s;
}

// The normal equations of the penalised fit: B'WB and M = B'WB + lambda D'D, and B'Wy.
void splineSystem(const Spline& s, const Data& d, const std::vector<double>& w, double lambda, std::vector<double>& btb,
                  std::vector<double>& m, std::vector<double>& bty)
{
    const auto n = static_cast<std::size_t>(s.segments + 3);
    btb.assign(n * n, 0.0);
    bty.assign(n, 0.0);
    std::array<double, 4> b;
    for (std::size_t i = 0; i < d.t.size(); ++i) {
        if (w[i] == 0) continue;
        const auto at = static_cast<std::size_t>(s.bases(d.t[i], b));
        for (std::size_t j = 0; j < 4; ++j) {
            bty[at + j] += w[i] * b[j] * d.y[i];
            for (std::size_t k = 0; k < 4; ++k) btb[(at + j) * n + at + k] += w[i] * b[j] * b[k];
        }
    }
    m = btb;
    for (std::size_t r = 0; r + 2 < n; ++r) {  // D'D of the second differences
        const double row[3] = {1, -2, 1};
        for (std::size_t j = 0; j < 3; ++j) {
            for (std::size_t k = 0; k < 3; ++k) m[(r + j) * n + r + k] += lambda * row[j] * row[k];
        }
    }
}

// Fits s's coefficients with weights w and penalty lambda; the effective number of
// parameters (the trace of the hat matrix) when asked. False when the system is singular.
bool fitSpline(Spline& s, const Data& d, const std::vector<double>& w, double lambda, double* edf = nullptr)
{
    const auto n = static_cast<std::size_t>(s.segments + 3);
    std::vector<double> btb, m, c;
    splineSystem(s, d, w, lambda, btb, m, c);
    if (!solve(m, c, n)) return false;
    s.coefficients = std::move(c);
    if (edf) {
        // trace(M^-1 B'WB), with M^-1 by Gauss-Jordan once rather than a solve a column.
        std::vector<double> inverse;
        if (!invert(m, inverse, n)) return false;
        double trace = 0;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < n; ++j) trace += inverse[i * n + j] * btb[j * n + i];
        }
        *edf = trace;
    }
    return true;
}

// Each point's leverage under the spline (the hat matrix's diagonal, w_i b_i' M^-1 b_i).
std::vector<double> splineLeverages(const Spline& s, const Data& d, const std::vector<double>& w, double lambda)
{
    const auto n = static_cast<std::size_t>(s.segments + 3);
    std::vector<double> btb, m, bty, inverse;
    splineSystem(s, d, w, lambda, btb, m, bty);
    std::vector<double> h(d.t.size(), 0.0);
    if (!invert(m, inverse, n)) return h;
    std::array<double, 4> b;
    for (std::size_t i = 0; i < d.t.size(); ++i) {
        const auto at = static_cast<std::size_t>(s.bases(d.t[i], b));
        double v = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            for (std::size_t k = 0; k < 4; ++k) v += b[j] * inverse[(at + j) * n + at + k] * b[k];
        }
        h[i] = w[i] * v;
    }
    return h;
}

// The penalty by generalised cross-validation over a grid; fits s with it.
double chooseLambda(Spline& s, const Data& d, const std::vector<double>& w)
{
    double bestScore = std::numeric_limits<double>::infinity(), best = 1;
    double kept = 0;
    for (const double wi : w) kept += wi > 0 ? 1 : 0;
    for (double e = -2; e <= 5.01; e += 0.25) {
        const double lambda = std::pow(10.0, e);
        double edf = 0;
        if (!fitSpline(s, d, w, lambda, &edf) || edf >= kept - 1) continue;
        double rss = 0;
        for (std::size_t i = 0; i < d.t.size(); ++i) rss += w[i] * (d.y[i] - s(d.t[i])) * (d.y[i] - s(d.t[i]));
        const double score = kept * rss / ((kept - edf) * (kept - edf));
        if (score < bestScore) {
            bestScore = score;
            best = lambda;
        }
    }
    fitSpline(s, d, w, best);
    return best;
}

// ---- Robust weights -------------------------------------------------------------

// 1.4826 times the median absolute residual: the spread of normal noise, which the odd
// outlier does not move. Never zero, so that a perfect fit keeps its weights.
double robustSpread(const std::vector<double>& residuals, const Data& d)
{
    std::vector<double> a;
    for (const double r : residuals) a.push_back(std::abs(r));
    const auto [lo, hi] = std::minmax_element(d.y.begin(), d.y.end());
    return std::max(1.4826 * median(a), 1e-6 * (*hi - *lo) + 1e-12);
}

// Huber's weights first (they cannot lose a point whose residual the first guess made
// large), then Tukey's biweight, which gives a one-off outlier no weight at all.
std::vector<double> robustWeights(const std::vector<double>& residuals, double spread, bool tukey)
{
    std::vector<double> w(residuals.size());
    for (std::size_t i = 0; i < residuals.size(); ++i) {
        const double r = std::abs(residuals[i]);
        if (tukey) {
            const double u = r / (4.685 * spread);
            w[i] = u < 1 ? (1 - u * u) * (1 - u * u) : 0;
        } else {
            const double k = 1.345 * spread;
            w[i] = r <= k ? 1 : k / r;
        }
    }
    return w;
}

template <typename Curve>
std::vector<double> residualsOf(const Curve& f, const Data& d)
{
    std::vector<double> r(d.t.size());
    for (std::size_t i = 0; i < d.t.size(); ++i) r[i] = d.y[i] - f(d.t[i]);
    return r;
}

constexpr int kHuberRounds = 3, kTukeyRounds = 8;

struct RobustLogistic {
    Params p;
    std::vector<double> weights, residuals;
    double spread = 0;
};

RobustLogistic robustLogistic(const Data& d, Params p)
{
    const auto curve = [&](double t) { return doubleLogistic(p, t); };
    std::vector<double> w(d.t.size(), 1.0);
    double spread = 0;
    for (int round = 0; round < kHuberRounds + kTukeyRounds; ++round) {
        const std::vector<double> r = residualsOf(curve, d);
        spread = robustSpread(r, d);
        const std::vector<double> next = robustWeights(r, spread, round >= kHuberRounds);
        const bool settled = round > kHuberRounds && std::equal(next.begin(), next.end(), w.begin(),
                                                                [](double a, double b) { return std::abs(a - b) < 1e-4; });
        w = next;
        levenbergMarquardt(p, d, w);
        if (settled) break;
    }
    RobustLogistic fit{p, w, residualsOf(curve, d), 0};
    fit.spread = robustSpread(fit.residuals, d);
    fit.weights = robustWeights(fit.residuals, fit.spread, true);
    return fit;
}

// Starting points from a running median of five: the peak, each limb's base as the
// lowest before and after it, each middle where the smoothed values cross half-way.
std::vector<Params> startingPoints(const Data& d)
{
    const std::size_t n = d.t.size();
    std::vector<double> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = i >= 2 ? i - 2 : 0, to = std::min(n, i + 3);
        s[i] = median(std::vector<double>(d.y.begin() + static_cast<std::ptrdiff_t>(from), d.y.begin() + static_cast<std::ptrdiff_t>(to)));
    }
    const std::size_t peak = static_cast<std::size_t>(std::max_element(s.begin(), s.end()) - s.begin());
    const double top = s[peak];
    const double b1 = *std::min_element(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(peak) + 1);
    const double b2 = *std::min_element(s.begin() + static_cast<std::ptrdiff_t>(peak), s.end());
    double m1 = d.t[peak] - d.span() / 6, m2 = d.t[peak] + d.span() / 6;
    for (std::size_t i = peak; i-- > 0;) {
        if (s[i] < (b1 + top) / 2) {
            m1 = (d.t[i] + d.t[i + 1]) / 2;
            break;
        }
    }
    for (std::size_t i = peak + 1; i < n; ++i) {
        if (s[i] < (b2 + top) / 2) {
            m2 = (d.t[i] + d.t[i - 1]) / 2;
            break;
        }
    }
    std::vector<Params> starts;
    for (const double scale : {2.0, 6.0, 14.0}) {
        Params p{b1, b2, top, m1, std::log(scale), m2, std::log(scale)};
        clampParams(p, d);
        starts.push_back(p);
    }
    return starts;
}

// An information criterion on residuals cut at a common bound, so that the outliers
// fits leave out count the same for each: n log(S / n) + 2 k.
double criterion(const std::vector<double>& residuals, double bound, double parameters)
{
    double s = 0;
    for (const double r : residuals) s += std::min(r * r, bound * bound);
    const auto n = static_cast<double>(residuals.size());
    return n * std::log(std::max(s, 1e-300) / n) + 2 * parameters;
}

// The best of the fits from each start, by their residuals cut at a common bound: a fit
// that calls three good points outliers to follow one shadow loses to the one that
// calls the shadow an outlier, though its spread of the rest may be tighter.
RobustLogistic bestLogistic(const Data& d)
{
    std::vector<RobustLogistic> fits;
    for (const Params& start : startingPoints(d)) fits.push_back(robustLogistic(d, start));
    double spread = fits.front().spread;
    for (const RobustLogistic& f : fits) spread = std::min(spread, f.spread);
    std::size_t best = 0;
    for (std::size_t k = 1; k < fits.size(); ++k) {
        if (criterion(fits[k].residuals, 4.685 * spread, 0) < criterion(fits[best].residuals, 4.685 * spread, 0)) best = k;
    }
    return fits[best];
}

struct RobustSpline {
    Spline s;
    double lambda = 1;
    std::vector<double> weights, residuals;
    double spread = 0, edf = 0;
};

std::optional<RobustSpline> robustSpline(const Data& d)
{
    RobustSpline fit;
    fit.s = splineShape(d);
    std::vector<double> w(d.t.size(), 1.0);
    for (int round = 0; round <= kHuberRounds + kTukeyRounds; ++round) {
        // The penalty chosen anew when the weights change in kind and at the end; in
        // between the weights settle under the one chosen.
        if (round == 0 || round == kHuberRounds || round == kHuberRounds + kTukeyRounds) {
            fit.lambda = chooseLambda(fit.s, d, w);
        } else if (!fitSpline(fit.s, d, w, fit.lambda)) {
            return std::nullopt;
        }
        if (fit.s.coefficients.empty()) return std::nullopt;
        if (round == kHuberRounds + kTukeyRounds) break;
        const std::vector<double> r = residualsOf(fit.s, d);
        w = robustWeights(r, robustSpread(r, d), round >= kHuberRounds);
    }
    if (!fitSpline(fit.s, d, w, fit.lambda, &fit.edf)) return std::nullopt;
    fit.residuals = residualsOf(fit.s, d);
    fit.spread = robustSpread(fit.residuals, d);
    fit.weights = robustWeights(fit.residuals, fit.spread, true);
    return fit;
}

// ---- Dates -----------------------------------------------------------------------

struct Dates {
    std::array<std::optional<double>, kPhenologyMetrics> day;
    std::array<double, kPhenologyMetrics> value{};
    double rise = 0, fall = 0;  // each limb's amplitude above its base
    // What the curve itself rises and falls within the frames' span: an asymptote far
    // outside it is no evidence of a cycle.
    double seenRise = 0, seenFall = 0;
    // The spline's base is its lowest point on the limb's side of the peak: a base only
    // when the curve lies flat there, not when the frames begin (or end) on the limb.
    bool riseBase = true, fallBase = true;
};

// Reads the dates off a curve over [d.first, d.last]: the peak as its highest sample,
// each level's date where the curve last crosses it before the peak (rising) or first
// after it (falling), between samples by straight lines. bases are the double
// logistic's own; the spline's are its lowest before and after the peak.
Dates readDates(const std::function<double(double)>& f, const Data& d, std::optional<std::pair<double, double>> bases)
{
    const auto count = static_cast<std::size_t>(std::ceil(d.span() / kDateStep)) + 1;
    std::vector<double> t(count), v(count);
    for (std::size_t i = 0; i < count; ++i) {
        t[i] = std::min(d.first + static_cast<double>(i) * kDateStep, d.last);
        v[i] = f(t[i]);
    }
    const std::size_t peak = static_cast<std::size_t>(std::max_element(v.begin(), v.end()) - v.begin());
    const double top = v[peak];
    const double base1 = bases ? bases->first : *std::min_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(peak) + 1);
    const double base2 = bases ? bases->second : *std::min_element(v.begin() + static_cast<std::ptrdiff_t>(peak), v.end());
    Dates dates;
    dates.rise = top - base1;
    dates.fall = top - base2;
    dates.seenRise = top - *std::min_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(peak) + 1);
    dates.seenFall = top - *std::min_element(v.begin() + static_cast<std::ptrdiff_t>(peak), v.end());
    if (!bases) {
        // Seen: the lowest point three days or more inside the span, or the curve flat at
        // the span's edge, its change over three days there under a quarter of the limb's
        // steepest change over three days.
        const auto edge = std::min(count - 1, static_cast<std::size_t>(std::lround(3 / kDateStep)));
        const auto low1 = static_cast<std::size_t>(std::min_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(peak) + 1) - v.begin());
        const auto low2 = static_cast<std::size_t>(std::min_element(v.begin() + static_cast<std::ptrdiff_t>(peak), v.end()) - v.begin());
        double steepest1 = 0, steepest2 = 0;
        for (std::size_t i = 0; i + edge < count; ++i) {
            (i + edge <= peak ? steepest1 : steepest2) = std::max(i + edge <= peak ? steepest1 : steepest2,
                                                                  std::abs(v[i + edge] - v[i]));
        }
        dates.riseBase = low1 >= edge || v[edge] - v[0] < 0.25 * steepest1;
        dates.fallBase = low2 + edge <= count - 1 || v[count - 1 - edge] - v[count - 1] < 0.25 * steepest2;
    }
    const auto idx = [](PhenologyMetric m) { return static_cast<std::size_t>(m); };
    dates.day[idx(PhenologyMetric::Peak)] = t[peak];
    dates.value[idx(PhenologyMetric::Peak)] = top;
    const std::pair<PhenologyMetric, double> rising[] = {
        {PhenologyMetric::StartOfSeason, 0.1}, {PhenologyMetric::MidGreenup, 0.5}, {PhenologyMetric::Maturity, 0.9}};
    const std::pair<PhenologyMetric, double> falling[] = {
        {PhenologyMetric::Senescence, 0.9}, {PhenologyMetric::MidSenescence, 0.5}, {PhenologyMetric::EndOfSeason, 0.1}};
    for (const auto& [metric, share] : rising) {
        const double level = base1 + share * dates.rise;
        dates.value[idx(metric)] = level;
        for (std::size_t i = peak; i > 0; --i) {
            if (v[i - 1] < level) {
                dates.day[idx(metric)] = t[i - 1] + (level - v[i - 1]) / (v[i] - v[i - 1]) * (t[i] - t[i - 1]);
                break;
            }
        }
    }
    for (const auto& [metric, share] : falling) {
        const double level = base2 + share * dates.fall;
        dates.value[idx(metric)] = level;
        for (std::size_t i = peak; i + 1 < count; ++i) {
            if (v[i + 1] < level) {
                dates.day[idx(metric)] = t[i] + (v[i] - level) / (v[i] - v[i + 1]) * (t[i + 1] - t[i]);
                break;
            }
        }
    }
    return dates;
}

bool rising(PhenologyMetric m)
{
    return m == PhenologyMetric::StartOfSeason || m == PhenologyMetric::MidGreenup || m == PhenologyMetric::Maturity;
}

// v to `digits` significant digits, the same text on every system (the C library's
// %g writes three exponent digits on Windows).
std::string significant(double v, int digits)
{
    char text[40];
    return std::string(text, std::to_chars(text, text + sizeof text, v, std::chars_format::general, digits).ptr);
}

std::string figure(double v)
{
    return significant(v, 3);
}

}  // namespace

const char* phenologyMetricName(PhenologyMetric metric) noexcept
{
    switch (metric) {
    case PhenologyMetric::StartOfSeason: return "start_of_season";
    case PhenologyMetric::MidGreenup: return "mid_greenup";
    case PhenologyMetric::Maturity: return "maturity";
    case PhenologyMetric::Peak: return "peak";
    case PhenologyMetric::Senescence: return "senescence";
    case PhenologyMetric::MidSenescence: return "mid_senescence";
    case PhenologyMetric::EndOfSeason: return "end_of_season";
    }
    return "";
}

const char* phenologyMethodName(PhenologyMethod method) noexcept
{
    switch (method) {
    case PhenologyMethod::None: return "none";
    case PhenologyMethod::DoubleLogistic: return "double_logistic";
    case PhenologyMethod::Spline: return "spline";
    }
    return "";
}

PhenologyFit fitPhenology(std::span<const PhenologyPoint> points, const PhenologySettings& settings)
{
    PhenologyFit result;
    result.weights.assign(points.size(), 0.0);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!points[i].flagged && std::isfinite(points[i].value) && std::isfinite(points[i].day)) order.push_back(i);
    }
    if (order.size() < static_cast<std::size_t>(kMinPhenologyPoints)) {
        result.reason = "使える点が " + std::to_string(order.size()) + " 個しかないため曲線を当てはめられません（"
                        + std::to_string(kMinPhenologyPoints) + " 個以上必要です）";
        return result;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return points[a].day < points[b].day; });
    Data d;
    for (const std::size_t i : order) {
        d.t.push_back(points[i].day);
        d.y.push_back(points[i].value);
    }
    d.first = d.t.front();
    d.last = d.t.back();
    std::vector<double> intervals;
    for (std::size_t k = 1; k < d.t.size(); ++k) intervals.push_back(d.t[k] - d.t[k - 1]);
    d.shortestScale = std::max(0.5, median(intervals) / 2);
    d.low = *std::min_element(d.y.begin(), d.y.end());
    d.high = *std::max_element(d.y.begin(), d.y.end());
    if (d.span() < 1) {
        result.reason = "撮影期間が 1 日に満たないため季節の曲線を当てはめられません";
        return result;
    }

    // Both fits, the spline taken only where it is markedly better than the double
    // logistic it stands in for.
    const RobustLogistic logistic = bestLogistic(d);
    const std::optional<RobustSpline> spline = robustSpline(d);
    const double bound = 4.685 * logistic.spread;
    bool useSpline = false;
    if (spline) {
        useSpline = criterion(spline->residuals, bound, spline->edf) + 2 < criterion(logistic.residuals, bound, kParameters);
    }
    const std::vector<double>& residuals = useSpline ? spline->residuals : logistic.residuals;
    const std::vector<double>& weights = useSpline ? spline->weights : logistic.weights;
    result.noise = useSpline ? spline->spread : logistic.spread;
    for (std::size_t k = 0; k < order.size(); ++k) result.weights[order[k]] = weights[k];

    const Params p = logistic.p;
    const auto curveOf = [&](const Spline* s, const Params& q) -> std::function<double(double)> {
        if (s) return [s](double t) { return (*s)(t); };
        return [q](double t) { return doubleLogistic(q, t); };
    };
    const auto basesOf = [&](const Params& q) -> std::optional<std::pair<double, double>> {
        if (useSpline) return std::nullopt;
        return std::pair{q[kB1], q[kB2]};
    };
    const std::function<double(double)> curve = curveOf(useSpline ? &spline->s : nullptr, p);
    const Dates dates = readDates(curve, d, basesOf(p));
    const double noiseBound = settings.noiseFactor * result.noise;
    // A limb is a limb when the curve rises (or falls) by more than the noise within the
    // span, and fitted points hold both its ends: a few below its half-way level on its
    // side of the peak and a few above it. A curve that bends to pass
    // through one odd point has not.
    const double peakDay = *dates.day[static_cast<std::size_t>(PhenologyMetric::Peak)];
    const double top = dates.value[static_cast<std::size_t>(PhenologyMetric::Peak)];
    const double riseHalf = top - dates.rise / 2, fallHalf = top - dates.fall / 2;
    int below1 = 0, below2 = 0, above1 = 0, above2 = 0;
    for (std::size_t k = 0; k < d.t.size(); ++k) {
        if (weights[k] <= 0) continue;
        const double v = curve(d.t[k]);
        below1 += d.t[k] <= peakDay && v < riseHalf;
        below2 += d.t[k] >= peakDay && v < fallHalf;
        above1 += v >= riseHalf;
        above2 += v >= fallHalf;
    }
    const bool riseHeld = dates.seenRise > noiseBound && below1 >= kLimbPoints && above1 >= kLimbPoints;
    const bool fallHeld = dates.seenFall > noiseBound && below2 >= kLimbPoints && above2 >= kLimbPoints;
    const bool riseDated = riseHeld && dates.riseBase, fallDated = fallHeld && dates.fallBase;
    result.amplitude = std::max(dates.seenRise, dates.seenFall);
    if (!riseHeld && !fallHeld) {
        result.reason = "季節の変化が見られません（振幅 " + figure(result.amplitude) + "、雑音 " + figure(result.noise)
                        + "：振幅が雑音の " + figure(settings.noiseFactor) + " 倍を超え、その上と下にそれぞれ "
                        + std::to_string(kLimbPoints) + " 点以上ある立ち上がりも下降もありません）";
        return result;
    }
    result.method = useSpline ? PhenologyMethod::Spline : PhenologyMethod::DoubleLogistic;
    const auto step = kPhenologyCurveStep;
    for (double t = d.first;; t += step) {
        const double at = std::min(t, d.last);
        result.curveDays.push_back(at);
        result.curveValues.push_back(useSpline ? spline->s(at) : doubleLogistic(p, at));
        if (at >= d.last) break;
    }

    // The residual bootstrap: the curve plus residuals drawn with replacement from the
    // points the robust fit kept (an outlier's residual would be drawn as noise), each
    // sample refitted from the fit found. A residual is smaller than the noise behind it
    // by sqrt(1 - leverage), most on the limbs where few points hold the curve, so each
    // is widened by that before drawing (Davison and Hinkley's modified residuals).
    const std::vector<double> leverage = useSpline ? splineLeverages(spline->s, d, weights, spline->lambda)
                                                   : logisticLeverages(p, d, weights);
    std::vector<double> kept;
    for (std::size_t k = 0; k < residuals.size(); ++k) {
        if (weights[k] > 0) kept.push_back(residuals[k] / std::sqrt(std::max(1 - leverage[k], 0.1)));
    }
    const double centre = kept.empty() ? 0 : std::accumulate(kept.begin(), kept.end(), 0.0) / static_cast<double>(kept.size());
    for (double& r : kept) r -= centre;
    std::array<std::vector<double>, kPhenologyMetrics> samples;
    SplitMix random{settings.seed};
    // Refitted with the robust fit's own weights, so that each refit is as (in)efficient
    // as the fit it stands for; plain least squares would give too narrow an interval.
    std::vector<double> fixedWeights(weights);
    for (int b = 0; b < settings.bootstrap && !kept.empty(); ++b) {
        Data resampled = d;
        for (std::size_t i = 0; i < d.t.size(); ++i) {
            const double fitted = d.y[i] - residuals[i];
            resampled.y[i] = fitted + kept[random.below(kept.size())];
        }
        Dates again;
        if (useSpline) {
            Spline s = spline->s;
            if (!fitSpline(s, resampled, fixedWeights, spline->lambda)) continue;
            again = readDates(curveOf(&s, p), resampled, std::nullopt);
        } else {
            Params q = p;
            levenbergMarquardt(q, resampled, fixedWeights);
            again = readDates(curveOf(nullptr, q), resampled, basesOf(q));
        }
        for (int m = 0; m < kPhenologyMetrics; ++m) {
            if (again.day[static_cast<std::size_t>(m)]) samples[static_cast<std::size_t>(m)].push_back(*again.day[static_cast<std::size_t>(m)]);
        }
    }

    for (int m = 0; m < kPhenologyMetrics; ++m) {
        const auto metric = static_cast<PhenologyMetric>(m);
        const auto i = static_cast<std::size_t>(m);
        PhenologyDate date;
        date.metric = metric;
        date.value = dates.value[i];
        const bool peak = metric == PhenologyMetric::Peak;
        const double limb = rising(metric) ? dates.seenRise : dates.seenFall;
        if (!peak && (rising(metric) ? riseHeld : fallHeld) && !(rising(metric) ? riseDated : fallDated)) {
            date.why = std::string(rising(metric) ? "撮影が立ち上がりの途中から始まり" : "撮影が下降の途中で終わり")
                       + "、その基底が見えないため日付はありません";
        } else if (!peak && !(rising(metric) ? riseHeld : fallHeld)) {
            date.why = std::string(rising(metric) ? "立ち上がり" : "下降") + "の振幅 " + figure(limb) + " が雑音 "
                       + figure(result.noise) + " の " + figure(settings.noiseFactor)
                       + " 倍以内か、それを支える点が足りないため日付はありません";
        } else if (!dates.day[i]) {
            date.why = "曲線がこの水準を撮影期間の中で横切らないため日付はありません";
        } else {
            date.day = dates.day[i];
            const std::vector<double>& s = samples[i];
            if (settings.bootstrap > 0 && static_cast<double>(s.size()) >= kBootstrapShare * settings.bootstrap) {
                date.low = quantile(s, 0.05);
                date.high = quantile(s, 0.95);
            }
        }
        result.dates.push_back(date);
    }
    return result;
}

namespace {

// Days from 1970-01-01 of a civil date, and back (Howard Hinnant's algorithms).
std::int64_t daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out)
{
    if (at + count > text.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

// The fields of a CSV record from at (RFC 4180: quoted fields, "" inside them, line
// ends inside quotes); at is left at the next record. False at the end of the text.
bool nextRecord(std::string_view text, std::size_t& at, std::vector<std::string>& fields)
{
    fields.clear();
    if (at >= text.size()) return false;
    std::string field;
    bool quoted = false;
    while (at < text.size()) {
        const char c = text[at++];
        if (quoted) {
            if (c == '"') {
                if (at < text.size() && text[at] == '"') {
                    field += '"';
                    ++at;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && at < text.size() && text[at] == '\n') ++at;
            break;
        } else {
            field += c;
        }
    }
    fields.push_back(std::move(field));
    return true;
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// A curve's value to four significant digits: its fit says no more, and sixteen would
// pretend it did.
std::string fourDigits(double v)
{
    return significant(v, 4);
}

}  // namespace

std::optional<double> phenologyDay(std::string_view time)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (time.size() != 19 || time[4] != '-' || time[7] != '-' || time[10] != 'T' || time[13] != ':' || time[16] != ':')
        return std::nullopt;
    if (!digits(time, 0, 4, y) || !digits(time, 5, 2, mo) || !digits(time, 8, 2, d) || !digits(time, 11, 2, h)
        || !digits(time, 14, 2, mi) || !digits(time, 17, 2, s))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    return static_cast<double>(daysFromCivil(y, mo, d)) + (h * 3600 + mi * 60 + s) / 86400.0;
}

std::string phenologyTime(double day)
{
    const auto seconds = static_cast<std::int64_t>(std::llround(day * 86400));
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", y, m, d, static_cast<int>(rest / 3600),
                  static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return text;
}

void readSeasonTable(std::string_view text, const std::string& name, const std::string& column,
                     std::vector<RegionSeason>& seasons, std::size_t& repeated)
{
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte-order mark from a spreadsheet
    std::size_t at = 0;
    std::vector<std::string> header, fields;
    if (!nextRecord(text, at, header)) throw PhenologyError(name + ": 季節表が空です");
    const auto find = [&](const std::string& key) -> std::size_t {
        const auto it = std::find(header.begin(), header.end(), key);
        if (it == header.end()) {
            std::string means;
            for (const std::string& h : header) {
                if (h.ends_with("_mean")) means += (means.empty() ? "" : "、") + h;
            }
            throw PhenologyError(name + ": 季節表に列 " + key + " がありません"
                                 + (means.empty() ? std::string() : "（_mean の列: " + means + "）"));
        }
        return static_cast<std::size_t>(it - header.begin());
    };
    const std::size_t fileColumn = find("file"), timeColumn = find("time"), regionColumn = find("region"),
                      warningColumn = find("panel_warning"), valueColumn = find(column);
    const std::size_t needed = std::max({fileColumn, timeColumn, regionColumn, warningColumn, valueColumn}) + 1;
    std::map<std::string, std::size_t> index;
    for (std::size_t k = 0; k < seasons.size(); ++k) index.emplace(seasons[k].region, k);
    std::set<std::tuple<std::string, std::string, std::string>> seen;
    for (const RegionSeason& s : seasons) {
        for (std::size_t k = 0; k < s.points.size() && k < s.frames.size(); ++k) {
            seen.emplace(s.frames[k], phenologyTime(s.points[k].day), s.region);
        }
    }
    for (int line = 2; nextRecord(text, at, fields); ++line) {
        if (fields.size() == 1 && fields[0].empty()) continue;  // a blank line
        const auto where = name + " の " + std::to_string(line) + " 行目: ";
        if (fields.size() < needed) throw PhenologyError(where + "列が足りません");
        const auto day = phenologyDay(fields[timeColumn]);
        if (!day) throw PhenologyError(where + "時刻 " + fields[timeColumn] + " を読めません（YYYY-MM-DDTHH:MM:SS）");
        const std::string& v = fields[valueColumn];
        if (v.empty()) continue;
        double value = 0;
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
        if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(value)) {
            throw PhenologyError(where + column + " の値 " + v + " を読めません");
        }
        if (!seen.emplace(fields[fileColumn], phenologyTime(*day), fields[regionColumn]).second) {
            ++repeated;
            continue;
        }
        const auto [it, added] = index.emplace(fields[regionColumn], seasons.size());
        if (added) seasons.push_back(RegionSeason{fields[regionColumn], {}, {}});
        RegionSeason& season = seasons[it->second];
        season.points.push_back(PhenologyPoint{*day, value, !fields[warningColumn].empty()});
        season.frames.push_back(fields[fileColumn]);
    }
}

std::string phenologyCsv(const std::vector<std::string>& regions, const std::vector<PhenologyFit>& fits)
{
    std::string out = "region,metric,date,low,high,value,method\n";
    const auto optional = [](const std::optional<double>& day) { return day ? phenologyTime(*day) : std::string(); };
    for (std::size_t r = 0; r < regions.size() && r < fits.size(); ++r) {
        const PhenologyFit& fit = fits[r];
        const std::string region = csvField(regions[r]);
        if (fit.method == PhenologyMethod::None) {
            out += region + ",none,,,,," + csvField(fit.reason) + '\n';
            continue;
        }
        for (const PhenologyDate& date : fit.dates) {
            out += region + ',' + phenologyMetricName(date.metric) + ',' + optional(date.day) + ',' + optional(date.low) + ','
                   + optional(date.high) + ',' + (date.day ? fourDigits(date.value) : std::string()) + ','
                   + csvField(date.day ? std::string(phenologyMethodName(fit.method)) : date.why) + '\n';
        }
    }
    return out;
}

}  // namespace engine
