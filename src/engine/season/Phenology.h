#pragma once
// Phenology: the dates of a plot's season (green-up, peak, senescence) from its values
// over time, as season tables give them. A smooth curve is fitted to one region's
// points by robust least squares (a double logistic, or a penalised spline where that
// fits markedly better), the dates are read off the curve, and a residual bootstrap
// gives each date an interval. `zrvimage-batch phenology` and the viewer's season
// chart share it. No Qt.
//
// Times are days since 1970-01-01T00:00:00 of the table's local clock (the table has no
// zone, and none is needed: only differences and the text back matter).

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// One value of a region on one frame.
struct PhenologyPoint {
    double day = 0;
    double value = 0;
    bool flagged = false;  // the frame's panel failed a check: shown, never fitted
};

// The dates, in the table's order: the rising limb at 10, 50 and 90 % of its amplitude
// above its own base, the peak, the falling limb at 90, 50 and 10 % of its amplitude
// above its own base.
enum class PhenologyMetric { StartOfSeason, MidGreenup, Maturity, Peak, Senescence, MidSenescence, EndOfSeason };
inline constexpr int kPhenologyMetrics = 7;
const char* phenologyMetricName(PhenologyMetric metric) noexcept;  // "start_of_season", ...

enum class PhenologyMethod { None, DoubleLogistic, Spline };
const char* phenologyMethodName(PhenologyMethod method) noexcept;  // "none", "double_logistic", "spline"

struct PhenologyDate {
    PhenologyMetric metric{};
    // Nothing when the curve does not give this date (why says why, in Japanese): it
    // crosses the level outside the frames' span; its limb rises no more than the noise
    // or has fewer than three fitted points below or above its half-way level; or (the
    // spline's) the frames begin or end on the limb, so its base is not seen.
    std::optional<double> day;
    // The bootstrap's 5th and 95th percentiles; nothing when too few of its fits gave
    // the date for the percentiles to mean what they say.
    std::optional<double> low, high;
    double value = 0;  // the curve's value at day
    std::string why;
};

struct PhenologySettings {
    int bootstrap = 200;  // fits on resampled residuals for the intervals; 0 for none
    std::uint64_t seed = 1;  // with the same points and settings, the same intervals
    // A limb whose rise within the frames' span is no more than this many times the
    // robust spread of the residuals is noise, not a limb; a region without a limb has
    // no cycle (None).
    double noiseFactor = 5;
};

inline constexpr double kPhenologyCurveStep = 0.25;

struct PhenologyFit {
    PhenologyMethod method = PhenologyMethod::None;
    std::string reason;  // for None, in Japanese: why there are no dates
    std::vector<PhenologyDate> dates;  // kPhenologyMetrics of them, in order; none for None
    // The curve sampled every kPhenologyCurveStep days over the fitted points' span, the
    // last sample at its end; empty for None.
    std::vector<double> curveDays, curveValues;
    double amplitude = 0;  // the larger limb's rise within the frames' span
    double noise = 0;      // the robust spread (1.4826 MAD) of the residuals
    // The robust weight each point got, in the order given (0 for flagged points and for
    // the outliers the fit left out).
    std::vector<double> weights;
};

// Fits one region's points (any order; flagged ones are left out of the fit) and reads
// its dates. Fewer than kMinPhenologyPoints unflagged points, frames within one day, or
// no limb give None with a reason.
inline constexpr int kMinPhenologyPoints = 10;
PhenologyFit fitPhenology(std::span<const PhenologyPoint> points, const PhenologySettings& settings = {});

// The day of a season table's time ("YYYY-MM-DDTHH:MM:SS"); nothing for other text.
std::optional<double> phenologyDay(std::string_view time);
// The time back, rounded to the second, as the season table writes it.
std::string phenologyTime(double day);

// A table that cannot be read: the message names the file and the line.
class PhenologyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct RegionSeason {
    std::string region;
    std::vector<PhenologyPoint> points;
    std::vector<std::string> frames;  // each point's file, for telling repeated rows
};

// Adds the rows of a season table (its CSV text; name only for messages) to seasons,
// region by region in the order met: the time, the column's value (rows where it is
// empty, a region without valid pixels, are skipped) and whether panel_warning is set.
// A row of the same frame, time and region as one already read (the same table given
// twice, say) is left out and counted in repeated. Throws PhenologyError for a table
// without time, region, panel_warning or the column, or a row whose time or value
// cannot be read.
void readSeasonTable(std::string_view text, const std::string& name, const std::string& column,
                     std::vector<RegionSeason>& seasons, std::size_t& repeated);

// The dates table, with its header: region,metric,date,low,high,value,method; one row a
// date, dates as the season table's times, values to four significant digits, an empty field where a figure is not given
// and then the method field says why; one row "none" with the reason in its method
// field for a region without a cycle.
std::string phenologyCsv(const std::vector<std::string>& regions, const std::vector<PhenologyFit>& fits);

}  // namespace engine
