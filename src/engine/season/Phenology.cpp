#include "engine/season/Phenology.h"

#include "engine/season/PhenologyCurves.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <functional>
#include <numeric>

namespace engine {

using namespace phenologyparts;

namespace {

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

}  // namespace engine
