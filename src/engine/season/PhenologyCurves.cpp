#include "engine/season/PhenologyCurves.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace engine::phenologyparts {

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
bool fitSpline(Spline& s, const Data& d, const std::vector<double>& w, double lambda, double* edf)
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

}  // namespace engine::phenologyparts
