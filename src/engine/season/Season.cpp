#include "engine/season/Season.h"

#include "engine/season/FramePlan.h"
#include "engine/season/Tally.h"

#include "engine/calibration/FlatField.h"
#include "engine/formats/PictureReader.h"
#include "engine/formats/ShortestText.h"
#include "engine/ops/Kernels.h"
#include "engine/platform/PerThread.h"
#include "engine/platform/Platform.h"
#include "engine/season/Markers.h"
#include "runtime/Exceptions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <new>


namespace engine {

using namespace seasonparts;

namespace {

// Adds a run of a panel's pixels to its byte counts.
void addPanelRun(PanelPixels& p, const std::uint8_t* px, std::int64_t pixels)
{
    p.pixels += static_cast<std::uint64_t>(pixels);
    for (; pixels > 0; --pixels, px += 3) {
        ++p.nir[px[2]];
        ++p.red[px[1]];
    }
}

// Rows per block: a block of about RowStream::kBlockBytes is read at once and stays in
// the cache while each region's runs in it are counted.
std::int64_t blockRows(std::int64_t width)
{
    const auto rowBytes = static_cast<std::size_t>(width) * 3;
    return static_cast<std::int64_t>(std::max<std::size_t>(1, RowStream::kBlockBytes / rowBytes));
}

// Counts every run's pixels in its slot, a plot's per code and a panel's per byte value,
// block by block of the plan's rows: loadBlock(first, last) points s.rows[first..last]
// at those image rows, blocks coming from the top down. Within a block the slots go one
// after the other, so that one plot's counts are in use at a time; each slot's runs still
// go from the top down, which keeps the order its codes are first met in.
template <typename LoadBlock>
void collectCodes(const FramePlan& plan, Scratch& s, std::int64_t width, LoadBlock&& loadBlock)
{
    const std::size_t plots = plan.whiteSlot != kNone ? plan.whiteSlot : plan.slots.size();
    while (s.tallies.size() < plots) s.tallies.emplace_back();
    for (Tally& t : s.tallies) t.clear();
    s.white = {};
    s.dark = {};
    s.nextRun.assign(plan.slotRuns.begin(), plan.slotRuns.end() - 1);
    const std::int64_t step = blockRows(width);
    for (const auto& [first, last] : plan.rows) {
        for (std::int64_t top = first; top <= last; top += step) {
            const std::int64_t bottom = std::min(last, top + step - 1);
            loadBlock(top, bottom);
            for (std::size_t slot = 0; slot < plan.slots.size(); ++slot) {
                std::size_t r = s.nextRun[slot];
                const std::size_t end = plan.slotRuns[slot + 1];
                for (; r < end && plan.runs[r].y <= bottom; ++r) {
                    const SlotRun& run = plan.runs[r];
                    const std::uint8_t* px = s.rows[static_cast<std::size_t>(run.y)] + 3 * run.x1;
                    const std::int64_t pixels = run.x2 - run.x1 + 1;
                    if (slot < plots) {
                        s.tallies[slot].count(px, pixels);
                    } else {
                        addPanelRun(slot == plan.whiteSlot ? s.white : s.dark, px, pixels);
                    }
                }
                s.nextRun[slot] = r;
            }
        }
    }
}

void keepWarnings(FrameFigures& figures, const std::vector<PanelWarning>& warnings)
{
    for (const PanelWarning& w : warnings) {
        figures.panelWarnings.push_back(w.check);
        figures.warningTexts.push_back(w.text);
    }
}

// Whether a fixed model has a dark target.
bool modelHasDark(const NdviModel& m)
{
    return m.nir.dnDark != 0 || m.red.dnDark != 0 || m.nir.rDark != 0 || m.red.rDark != 0;
}

// The model of a frame that calibrates itself, by the rules zrvimage-batch calibrate
// applies to its rectangles.
NdviModel frameModel(const FramePlan& plan, const Scratch& s, const SeasonSettings& settings, const std::string& path,
                     FrameFigures& figures)
{
    const PanelPixels& white = s.white;
    NdviModel m = settings.reflectances;
    m.nir.dnWhite = static_cast<float>(whiteValue(white.nir, white.pixels, settings.whiteFrom));
    m.red.dnWhite = static_cast<float>(whiteValue(white.red, white.pixels, settings.whiteFrom));
    m.nir.dnDark = 0;
    m.red.dnDark = 0;
    if (plan.darkSlot != kNone) {
        const PanelPixels& dark = s.dark;
        m.nir.dnDark = darkValue(dark.nir, dark.pixels);
        m.red.dnDark = darkValue(dark.red, dark.pixels);
    }
    if (const auto problem = modelProblem(m)) {
        frameFailure(path, regionName(*plan.slots[plan.whiteSlot]) + " から較正できません: " + *problem);
    }
    keepWarnings(figures, panelChecks(white, static_cast<int>(m.nir.dnWhite), static_cast<int>(m.red.dnWhite)));
    if (plan.darkSlot != kNone) {
        figures.hasDark = true;
        keepWarnings(figures, darkChecks(darkSpread(s.dark), m.nir.dnDark, m.red.dnDark, m.nir.dnWhite, m.red.dnWhite));
    }
    return m;
}

// ceil(p / 100 * n) in integers.
std::uint64_t nearestRank(std::uint64_t p, std::uint64_t n)
{
    return std::max<std::uint64_t>((p * n + 99) / 100, 1);
}

// The values at the given ranks (1-based, ascending) of s.values with their counts,
// whose buckets' counts are in s.buckets, without sorting them all: the buckets that
// hold the ranks are found from the counts, and only their values are sorted.
template <std::size_t N>
std::array<float, N> valuesAtRanks(Scratch& s, const std::array<std::uint64_t, N>& ranks)
{
    // The bucket of each rank, and the pixels in the buckets below it.
    std::array<std::uint32_t, N> bucket{};
    std::array<std::uint64_t, N> below{};
    std::uint64_t before = 0;
    std::size_t k = 0;
    for (std::uint32_t b = 0; b < kBuckets && k < N; ++b) {
        const std::uint64_t after = before + s.buckets[b];
        for (; k < N && after >= ranks[k]; ++k) {
            bucket[k] = b;
            below[k] = before;
        }
        before = after;
    }
    std::array<float, N> result{};
    std::array<bool, N> sorting{};
    bool any = false;
    for (std::size_t i = 0; i < N; ++i) {
        result[i] = s.bucketLow[bucket[i]];
        sorting[i] = s.bucketLow[bucket[i]] != s.bucketHigh[bucket[i]];
        any = any || sorting[i];
    }
    if (!any) return result;
    s.picked.clear();
    for (const SeasonValue& v : s.values) {
        for (std::size_t i = 0; i < N; ++i) {
            if (sorting[i] && v.bucket == bucket[i]) {
                s.picked.push_back(v);
                break;
            }
        }
    }
    // By bucket, then by value: each rank's bucket is a sorted stretch of its own.
    std::sort(s.picked.begin(), s.picked.end(), [](const SeasonValue& a, const SeasonValue& b) {
        return a.bucket != b.bucket ? a.bucket < b.bucket : a.value < b.value;
    });
    for (std::size_t i = 0; i < N; ++i) {
        if (!sorting[i]) continue;
        std::uint64_t seen = below[i];
        for (const SeasonValue& v : s.picked) {
            if (v.bucket != bucket[i]) continue;
            seen += v.pixels;
            result[i] = v.value;
            if (seen >= ranks[i]) break;
        }
    }
    return result;
}

// A frame's value of each code (NIR byte << 8 | red byte): the index of the two bytes'
// reflectances under the frame's model, the very values an NdviTable of that model and
// index holds. Every count of the frame takes its values from here.
struct CodeValues {
    std::array<float, 256> nir{}, red{};
    VegetationIndex index;
    BucketScale scale;

    CodeValues(const NdviModel& model, const VegetationIndex& index)
        : index(index), scale(index.isNdvi() ? BucketScale{} : BucketScale::of(indexRange(index).low, indexRange(index).high))
    {
        for (int b = 0; b < 256; ++b) {
            nir[static_cast<std::size_t>(b)] = bandReflectance(static_cast<std::uint8_t>(b), model.nir);
            red[static_cast<std::size_t>(b)] = bandReflectance(static_cast<std::uint8_t>(b), model.red);
        }
    }
    float operator()(std::uint16_t code) const
    {
        return indexOfReflectances(index, nir[code >> 8], red[code & 0xFF]);
    }
};

// A plot's figures from its counts: each distinct code's value computed once
// (CodeValues). The sums go over the distinct codes in the order the region first
// meets them, so the same frame and regions always give the same figures to the last
// bit.
RegionFigures plotFigures(Tally& tally, std::size_t pixels, Scratch& s, const CodeValues& valueOf)
{
    RegionFigures f;
    f.pixels = pixels;
    std::uint32_t* const counts = tally.counts.get();
    std::uint64_t nirSum = 0;
    std::uint64_t redSum = 0;
    // In extended precision: a product of a float and a count is exact there, so a
    // region of one value has exactly that mean and a deviation of 0.
    long double sum = 0;
    float low = 0, high = 0;
    s.values.clear();
    std::fill(s.buckets.begin(), s.buckets.end(), 0);
    for (std::size_t i = 0; i < tally.distinct; ++i) {
        const std::uint16_t c = tally.seen[i];
        const std::uint64_t n = counts[c];
        counts[c] = 0;
        tally.flags[c] = 0;
        const unsigned nir = c >> 8;
        const unsigned red = c & 0xFF;
        nirSum += n * nir;
        redSum += n * red;
        if (nir == 255 || red == 255) f.saturated += n;
        if (s.ndviFrame[c] != s.frame) {
            s.ndvi[c] = valueOf(c);
            s.ndviFrame[c] = s.frame;
        }
        const float v = s.ndvi[c];
        if (v == kNdviMarker) {
            f.nodata += n;
            continue;
        }
        if (s.values.empty() || v < low) low = v;
        if (s.values.empty() || v > high) high = v;
        const std::uint32_t b = bucketOf(v, valueOf.scale);
        s.values.push_back({v, b, n});
        if (s.buckets[b] == 0) {
            s.bucketLow[b] = s.bucketHigh[b] = v;
        } else {
            s.bucketLow[b] = std::min(s.bucketLow[b], v);
            s.bucketHigh[b] = std::max(s.bucketHigh[b], v);
        }
        s.buckets[b] += n;
        sum += static_cast<long double>(v) * n;
    }
    tally.distinct = 0;
    if (f.pixels > 0) {
        f.nirMean = static_cast<double>(nirSum) / static_cast<double>(f.pixels);
        f.redMean = static_cast<double>(redSum) / static_cast<double>(f.pixels);
    }
    if (s.values.empty()) return f;

    const std::uint64_t n = f.pixels - f.nodata;
    const long double mean = sum / n;
    long double squares = 0;
    for (const SeasonValue& v : s.values) {
        const long double d = v.value - mean;
        squares += d * d * v.pixels;
    }
    f.mean = static_cast<double>(mean);
    f.stddev = static_cast<double>(std::sqrt(squares / n));
    f.min = low;
    f.max = high;
    const auto at = valuesAtRanks<3>(s, {nearestRank(5, n), nearestRank(50, n), nearestRank(95, n)});
    f.p05 = at[0];
    f.median = at[1];
    f.p95 = at[2];
    return f;
}

FrameFigures figuresOf(const FramePlan& plan, Scratch& s, const SeasonSettings& settings, const std::string& path)
{
    s.newFrame();
    FrameFigures figures;
    figures.model = settings.fixed ? *settings.fixed : frameModel(plan, s, settings, path, figures);
    if (settings.fixed) figures.hasDark = modelHasDark(*settings.fixed);
    const CodeValues valueOf(figures.model, settings.index);
    const std::size_t plots = plan.whiteSlot != kNone ? plan.whiteSlot : plan.slots.size();
    for (std::size_t i = 0; i < plots; ++i) figures.plots.push_back(plotFigures(s.tallies[i], plan.pixels[i], s, valueOf));
    return figures;
}

// Through a flat-field every pixel has values of its own, so the figures come from
// the corrected values one by one rather than from counts per byte pair.
struct CorrectedSlots {
    std::vector<CorrectedPixels> slots;
    std::vector<std::vector<std::uint16_t>> codes;  // per slot, each pixel's NIR << 8 | red byte
};

// Every run's pixels corrected into its slot, in the order of its runs (top down), block
// by block of the plan's rows as collectCodes reads them.
template <typename LoadBlock>
void collectCorrected(const FramePlan& plan, Scratch& s, std::int64_t width, const FlatField& flat, CorrectedSlots& c,
                      LoadBlock&& loadBlock)
{
    c.slots.assign(plan.slots.size(), {});
    c.codes.assign(plan.slots.size(), {});
    std::vector<std::size_t> next(plan.slotRuns.begin(), plan.slotRuns.end() - 1);
    std::vector<float> gn(static_cast<std::size_t>(width)), gr(gn.size());
    const float nirOffset = flat.model().nir.offset, redOffset = flat.model().red.offset;
    const std::int64_t step = blockRows(width);
    for (const auto& [first, last] : plan.rows) {
        for (std::int64_t top = first; top <= last; top += step) {
            const std::int64_t bottom = std::min(last, top + step - 1);
            loadBlock(top, bottom);
            for (std::int64_t y = top; y <= bottom; ++y) {
                bool gains = false;
                for (std::size_t slot = 0; slot < plan.slots.size(); ++slot) {
                    std::size_t r = next[slot];
                    for (; r < plan.slotRuns[slot + 1] && plan.runs[r].y == y; ++r) {
                        if (!gains) {
                            flat.rowGains(y, gn.data(), gr.data());
                            gains = true;
                        }
                        const SlotRun& run = plan.runs[r];
                        const std::uint8_t* px = s.rows[static_cast<std::size_t>(y)] + 3 * run.x1;
                        CorrectedPixels& p = c.slots[slot];
                        for (std::int64_t x = run.x1; x <= run.x2; ++x, px += 3) {
                            const auto at = static_cast<std::size_t>(x);
                            p.nir.push_back(correctedValue(px[2], gn[at], nirOffset));
                            p.red.push_back(correctedValue(px[1], gr[at], redOffset));
                            p.nirSaturated += px[2] == 255;
                            p.redSaturated += px[1] == 255;
                            c.codes[slot].push_back(static_cast<std::uint16_t>(px[2] << 8 | px[1]));
                        }
                    }
                    next[slot] = r;
                }
            }
        }
    }
}

RegionFigures correctedPlotFigures(const std::vector<std::uint16_t>& codes, const CorrectedPixels& p,
                                   const NdviModel& m, const VegetationIndex& index, std::vector<float>& values)
{
    RegionFigures f;
    f.pixels = codes.size();
    std::uint64_t nirSum = 0, redSum = 0;
    values.clear();
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const unsigned nir = codes[i] >> 8, red = codes[i] & 0xFF;
        nirSum += nir;
        redSum += red;
        if (nir == 255 || red == 255) ++f.saturated;
        const float nirR = correctedReflectance(p.nir[i], m.nir), redR = correctedReflectance(p.red[i], m.red);
        // NDVI through a flat-field keeps its float arithmetic, the vector path's.
        const float v = index.isNdvi() ? correctedNdvi(nirR, redR) : indexOfReflectances(index, nirR, redR);
        if (v == kNdviMarker) {
            ++f.nodata;
        } else {
            values.push_back(v);
        }
    }
    if (f.pixels > 0) {
        f.nirMean = static_cast<double>(nirSum) / static_cast<double>(f.pixels);
        f.redMean = static_cast<double>(redSum) / static_cast<double>(f.pixels);
    }
    if (values.empty()) return f;
    std::sort(values.begin(), values.end());
    const std::uint64_t n = values.size();
    // In extended precision and in ascending order, so the same values always give
    // the same figures to the last bit.
    long double sum = 0;
    for (const float v : values) sum += v;
    const long double mean = sum / n;
    long double squares = 0;
    for (const float v : values) squares += (v - mean) * (v - mean);
    f.mean = static_cast<double>(mean);
    f.stddev = static_cast<double>(std::sqrt(squares / n));
    f.min = values.front();
    f.max = values.back();
    f.p05 = values[nearestRank(5, n) - 1];
    f.median = values[nearestRank(50, n) - 1];
    f.p95 = values[nearestRank(95, n) - 1];
    return f;
}

FrameFigures correctedFiguresOf(const FramePlan& plan, const CorrectedSlots& c, const SeasonSettings& settings,
                                const std::string& path)
{
    FrameFigures figures;
    if (settings.fixed) {
        figures.model = *settings.fixed;
        figures.hasDark = modelHasDark(*settings.fixed);
    } else {
        NdviModel m = settings.reflectances;
        const CorrectedPixels& white = c.slots[plan.whiteSlot];
        m.nir.dnWhite = correctedWhiteValue(white.nir, settings.whiteFrom);
        m.red.dnWhite = correctedWhiteValue(white.red, settings.whiteFrom);
        m.nir.dnDark = 0;
        m.red.dnDark = 0;
        if (plan.darkSlot != kNone) {
            m.nir.dnDark = correctedDarkValue(c.slots[plan.darkSlot].nir);
            m.red.dnDark = correctedDarkValue(c.slots[plan.darkSlot].red);
        }
        if (const auto problem = modelProblem(m)) {
            frameFailure(path, regionName(*plan.slots[plan.whiteSlot]) + " から較正できません: " + *problem);
        }
        keepWarnings(figures, correctedPanelChecks(white, m.nir.dnWhite, m.red.dnWhite));
        if (plan.darkSlot != kNone) {
            const CorrectedPixels& dark = c.slots[plan.darkSlot];
            figures.hasDark = true;
            keepWarnings(figures, darkChecks(darkSpread(dark.nir, dark.red, dark.nirSaturated, dark.redSaturated),
                                             m.nir.dnDark, m.red.dnDark, m.nir.dnWhite, m.red.dnWhite));
        }
        figures.model = m;
    }
    std::vector<float> values;
    const std::size_t plots = plan.whiteSlot != kNone ? plan.whiteSlot : plan.slots.size();
    for (std::size_t i = 0; i < plots; ++i) {
        figures.plots.push_back(correctedPlotFigures(c.codes[i], c.slots[i], figures.model, settings.index, values));
    }
    return figures;
}

void checkCancel(const RunControl& control)
{
    if (control.cancel && control.cancel->load(std::memory_order_relaxed)) throw runtime::EAbort();
}


}  // namespace

const char* panelCheckKey(PanelCheck check) noexcept
{
    switch (check) {
    case PanelCheck::Saturated: return "saturated";
    case PanelCheck::Uneven: return "uneven";
    case PanelCheck::Dim: return "dim";
    case PanelCheck::DarkSaturated: return "dark_saturated";
    case PanelCheck::DarkUneven: return "dark_uneven";
    case PanelCheck::DarkBright: return "dark_bright";
    }
    return "";
}

std::optional<std::string> seasonProblem(const RegionSet& regions, const SeasonSettings& settings)
{
    if (regions.plots().empty()) return "測る領域（role のない領域）がありません";
    if (settings.fixed) return modelProblem(*settings.fixed);
    if (!regions.white()) {
        return "白色板の領域（role が white）がなく、固定の較正もありません（--calibration か --nir-white と --red-white）";
    }
    // The reflectances alone must already make a model, as calibrate requires.
    NdviModel m = settings.reflectances;
    m.nir.dnWhite = m.red.dnWhite = 255;
    m.nir.dnDark = m.red.dnDark = 0;
    return modelProblem(m);
}

namespace {

// The frame's regions placed by the tags found on it; RegionsError naming the frame
// when they cannot be.
Registration registration(const GreyPicture& grey, const RegionSet& regions, const std::string& path)
{
    Registration placed = registerRegions(regions, findTags(grey.view()));
    if (placed.problem) frameFailure(path, *placed.problem);
    return placed;
}

}  // namespace

FrameFigures seasonFrameFigures(PictureReader& reader, const RegionSet& regions, const SeasonSettings& settings,
                                const RunControl& control)
{
    if (regions.usesMarkers()) {
        // The tags can be anywhere: the whole frame is read once for them, then the
        // rows the placed regions span again, from the system's cache.
        checkCancel(control);
        Registration placed = registration(greenOf(reader), regions, reader.path());
        checkCancel(control);
        FrameFigures figures = seasonFrameFigures(reader, placed.mapped, settings, control);
        figures.registration = std::move(placed);
        return figures;
    }
    if (settings.flatField) {
        if (auto problem = settings.flatField->sizeProblem(reader.width(), reader.height())) frameFailure(reader.path(), *problem);
    }
    const FramePlan& plan = framePlan(reader.width(), reader.height(), reader.path(), regions, settings);
    Scratch& s = perThread<Scratch>();
    s.rows.resize(static_cast<std::size_t>(reader.height()));
    const auto loadBlock = [&](std::int64_t top, std::int64_t bottom) {
        checkCancel(control);
        // The block's stored rows lie together in the file, lowest first.
        const std::int64_t count = bottom - top + 1;
        const std::int64_t low = std::min(reader.storedIndex(top), reader.storedIndex(bottom));
        const auto stride = static_cast<std::size_t>(reader.stride());
        std::uint8_t* buffer = s.blockSpace(static_cast<std::size_t>(count) * stride);
        reader.readStored(low, count, buffer);
        for (std::int64_t y = top; y <= bottom; ++y) {
            s.rows[static_cast<std::size_t>(y)] = buffer + static_cast<std::size_t>(reader.storedIndex(y) - low) * stride;
        }
        if (control.onRows) control.onRows(count, static_cast<std::size_t>(reader.width()));
    };
    if (settings.flatField) {
        CorrectedSlots c;
        collectCorrected(plan, s, reader.width(), *settings.flatField, c, loadBlock);
        return correctedFiguresOf(plan, c, settings, reader.path());
    }
    collectCodes(plan, s, reader.width(), loadBlock);
    return figuresOf(plan, s, settings, reader.path());
}

FrameFigures seasonFrameFigures(std::int64_t width, std::int64_t height, const FrameRowAccess& row,
                                const std::string& path, const RegionSet& regions, const SeasonSettings& settings)
{
    if (regions.usesMarkers()) {
        Registration placed = registration(greenOf(width, height, row), regions, path);
        FrameFigures figures = seasonFrameFigures(width, height, row, path, placed.mapped, settings);
        figures.registration = std::move(placed);
        return figures;
    }
    if (settings.flatField) {
        if (auto problem = settings.flatField->sizeProblem(width, height)) frameFailure(path, *problem);
    }
    const FramePlan& plan = framePlan(width, height, path, regions, settings);
    Scratch& s = perThread<Scratch>();
    s.rows.resize(static_cast<std::size_t>(height));
    const auto loadBlock = [&](std::int64_t top, std::int64_t bottom) {
        for (std::int64_t y = top; y <= bottom; ++y) s.rows[static_cast<std::size_t>(y)] = row(y);
    };
    if (settings.flatField) {
        CorrectedSlots c;
        collectCorrected(plan, s, width, *settings.flatField, c, loadBlock);
        return correctedFiguresOf(plan, c, settings, path);
    }
    collectCodes(plan, s, width, loadBlock);
    return figuresOf(plan, s, settings, path);
}


}  // namespace engine
