#include "engine/Season.h"

#include "engine/FlatField.h"
#include "engine/Kernels.h"
#include "engine/Markers.h"
#include "engine/PerThread.h"
#include "engine/PictureReader.h"
#include "engine/Platform.h"
#include "engine/ShortestText.h"
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

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

[[noreturn]] void frameFailure(const std::string& path, const std::string& problem)
{
    throw RegionsError(path + ": " + problem);
}

std::string regionName(const Region& region)
{
    return "領域 \"" + region.name + "\"";
}

// A run of one region's pixels on one row.
struct SlotRun {
    std::int64_t y, x1, x2;
};

// What one frame reads: its regions in slots (the plots in order, then the white and
// dark regions when the frame calibrates itself), each slot's runs in reading order,
// and the bands of rows they span.
struct FramePlan {
    std::vector<const Region*> slots;
    std::size_t whiteSlot = kNone;
    std::size_t darkSlot = kNone;
    std::vector<SlotRun> runs;                                // slot by slot
    std::vector<std::size_t> slotRuns;                        // slot s's runs: [slotRuns[s], slotRuns[s + 1])
    std::vector<std::pair<std::int64_t, std::int64_t>> rows;  // first, last; apart and ascending
    std::vector<std::size_t> pixels;                          // per slot
};

FramePlan planFrame(std::int64_t width, std::int64_t height, const std::string& path, const RegionSet& regions,
                    const SeasonSettings& settings)
{
    if (auto problem = seasonProblem(regions, settings)) frameFailure(path, *problem);
    // Every region must fit the frame, used for this frame or not: a panel off the
    // picture means the regions were drawn on another view.
    for (const Region& r : regions.regions) {
        if (!regionInside(r, width, height)) {
            frameFailure(path, regionName(r) + " が画像（" + std::to_string(width) + "×" + std::to_string(height)
                                   + "）の外にはみ出しています");
        }
    }
    FramePlan plan;
    plan.slots = regions.plots();
    if (!settings.fixed) {
        plan.whiteSlot = plan.slots.size();
        plan.slots.push_back(regions.white());
        if (const Region* dark = regions.dark()) {
            plan.darkSlot = plan.slots.size();
            plan.slots.push_back(dark);
        }
    }
    plan.pixels.assign(plan.slots.size(), 0);
    std::vector<std::pair<std::int64_t, std::int64_t>> spans;
    for (std::size_t s = 0; s < plan.slots.size(); ++s) {
        plan.slotRuns.push_back(plan.runs.size());
        std::int64_t first = -1;
        std::int64_t last = -1;
        for (const PixelRun& run : regionRuns(*plan.slots[s])) {
            plan.runs.push_back({run.y, run.x1, run.x2});
            plan.pixels[s] += static_cast<std::size_t>(run.x2 - run.x1 + 1);
            if (first < 0) first = run.y;
            last = run.y;
        }
        if (first >= 0) spans.emplace_back(first, last);
    }
    plan.slotRuns.push_back(plan.runs.size());
    std::sort(spans.begin(), spans.end());
    for (const auto& span : spans) {
        if (!plan.rows.empty() && span.first <= plan.rows.back().second + 1) {
            plan.rows.back().second = std::max(plan.rows.back().second, span.second);
        } else {
            plan.rows.push_back(span);
        }
    }
    return plan;
}

// NDVI lies in -1 .. 1; (v + 1) * 512 rises with v, so buckets by it keep the order.
constexpr std::size_t kBuckets = 1024;

std::uint32_t bucketOf(float v) noexcept
{
    const float b = (v + 1.0f) * 512.0f;
    return b <= 0 ? 0 : std::min(static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(kBuckets - 1));
}

// One NDVI value of a region: its pixels and its bucket for the order statistics.
struct SeasonValue {
    float value;
    std::uint32_t bucket;
    std::uint64_t pixels;
};

bool sameRegion(const Region& a, const Region& b)
{
    return a.name == b.name && a.role == b.role && a.polygon == b.polygon && a.rect.x1 == b.rect.x1
           && a.rect.y1 == b.rect.y1 && a.rect.x2 == b.rect.x2 && a.rect.y2 == b.rect.y2;
}

// The last plan a thread made, kept with its own copy of the regions it was made for:
// frame after frame of a season has the same size and regions, and the plan (the
// polygons' rows walked, every region's runs) then costs nothing.
struct PlanCache {
    bool valid = false;
    std::int64_t width = 0, height = 0;
    bool fixed = false;
    RegionSet set;
    FramePlan plan;
};

const FramePlan& framePlan(std::int64_t width, std::int64_t height, const std::string& path, const RegionSet& regions,
                           const SeasonSettings& settings)
{
    PlanCache& cache = perThread<PlanCache>();
    const bool fixed = settings.fixed.has_value();
    if (cache.valid && cache.width == width && cache.height == height && cache.fixed == fixed
        && std::equal(cache.set.regions.begin(), cache.set.regions.end(), regions.regions.begin(), regions.regions.end(),
                      sameRegion)) {
        if (auto problem = seasonProblem(regions, settings)) frameFailure(path, *problem);
        return cache.plan;
    }
    cache.valid = false;
    cache.set = regions;
    cache.plan = planFrame(width, height, path, cache.set, settings);
    cache.width = width;
    cache.height = height;
    cache.fixed = fixed;
    cache.valid = true;
    return cache.plan;
}

// A code is a pixel's NIR byte << 8 | its red byte.
constexpr std::size_t kCodes = std::size_t{1} << 16;

// One plot's pixels per code on a frame, counted as its rows go by.
struct Tally {
    struct Free {
        void operator()(void* p) const noexcept { std::free(p); }
    };
    // All zero between frames. From calloc: the pages a plot's few hundred codes never
    // touch cost nothing.
    std::unique_ptr<std::uint32_t[], Free> counts;
    // The codes in the order the plot first meets them, so that only those are visited
    // and cleared: room for every code, as a plot meets each once.
    std::unique_ptr<std::uint16_t[]> seen;
    std::size_t distinct = 0;
    // A flag per code seen, zero between frames: tested apart from the counts, the test
    // does not wait for the count just stored (0.9 ms a frame against 1.0 testing the
    // count, 20 plots of 80,000 pixels).
    std::unique_ptr<std::uint8_t[], Free> flags;

    Tally()
        : counts(static_cast<std::uint32_t*>(std::calloc(kCodes, sizeof(std::uint32_t)))),
          seen(new std::uint16_t[kCodes]),
          flags(static_cast<std::uint8_t*>(std::calloc(kCodes, 1)))
    {
        if (!counts || !flags) throw std::bad_alloc();
    }

    // Every count back to zero (after a frame that failed halfway, too).
    void clear() noexcept
    {
        for (std::size_t i = 0; i < distinct; ++i) counts[seen[i]] = flags[seen[i]] = 0;
        distinct = 0;
    }

    // Counts the pixels of a run, listing the codes met for the first time.
    void count(const std::uint8_t* px, std::int64_t pixels) noexcept
    {
        std::uint32_t* const n = counts.get();
        std::uint8_t* const met = flags.get();
        std::uint16_t* const order = seen.get();
        std::size_t listed = distinct;
        const auto one = [&](std::uint16_t c) {
            ++n[c];
            if (!met[c]) [[unlikely]] {
                met[c] = 1;
                order[listed++] = c;
            }
        };
        // Three pixels' codes from one load of eight bytes (the green and red bytes of
        // the first pixel to the red byte of the third), six pixels a round.
        for (; pixels >= 6; pixels -= 6, px += 18) {
            std::uint64_t a, b;
            std::memcpy(&a, px + 1, sizeof a);
            std::memcpy(&b, px + 10, sizeof b);
            one(static_cast<std::uint16_t>(a));
            one(static_cast<std::uint16_t>(a >> 24));
            one(static_cast<std::uint16_t>(a >> 48));
            one(static_cast<std::uint16_t>(b));
            one(static_cast<std::uint16_t>(b >> 24));
            one(static_cast<std::uint16_t>(b >> 48));
        }
        for (; pixels > 0; --pixels, px += 3) one(static_cast<std::uint16_t>(px[2] << 8 | px[1]));
        distinct = listed;
    }
};

// Memory a thread keeps from frame to frame, so that a season of frames allocates
// nothing per frame once the first has grown it.
struct Scratch {
    // Each plot's counts, filled while its rows are in the cache from being read: one
    // pass over the rows, nothing written per pixel but the counts.
    std::vector<Tally> tallies;
    std::vector<std::size_t> nextRun;  // per slot: its first run not yet counted
    // The image rows of the block being counted, by row from the top, and the block
    // read from a file.
    std::vector<const std::uint8_t*> rows;
    std::unique_ptr<std::uint8_t[]> block;
    std::size_t blockSize = 0;
    // The white and dark regions' pixels per byte value.
    PanelPixels white, dark;
    // Each code's NDVI under this frame's model, computed the first time a region of
    // the frame meets it: a frame's regions hold a few thousand codes, and building all
    // 65,536 would cost more than reading the frame.
    std::vector<float> ndvi = std::vector<float>(kCodes);
    std::vector<std::uint32_t> ndviFrame = std::vector<std::uint32_t>(kCodes);
    std::uint32_t frame = 0;
    std::vector<SeasonValue> values;  // a region's distinct NDVI values
    std::vector<SeasonValue> picked;
    std::vector<std::uint64_t> buckets = std::vector<std::uint64_t>(kBuckets);  // pixels per bucket of values
    // Each bucket's lowest and highest value: a bucket of one value needs no sorting (a
    // region where one band is clipped holds many codes of NDVI -1 or 1).
    std::vector<float> bucketLow = std::vector<float>(kBuckets);
    std::vector<float> bucketHigh = std::vector<float>(kBuckets);

    Scratch()
    {
        // A region holds at most every code once: nothing below allocates mid-frame.
        values.reserve(kCodes);
        picked.reserve(kCodes);
    }

    std::uint8_t* blockSpace(std::size_t bytes)
    {
        if (bytes > blockSize) {
            block.reset();
            blockSize = 0;
            block.reset(new std::uint8_t[bytes]);
            blockSize = bytes;
        }
        return block.get();
    }

    // Starts a frame: every code's NDVI is yet to be computed.
    void newFrame()
    {
        if (++frame == 0) {
            std::fill(ndviFrame.begin(), ndviFrame.end(), 0);
            frame = 1;
        }
    }
};


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

// A plot's figures from its counts: each distinct code's NDVI computed once by the
// frame's reflectances (the very values an NdviTable of the model holds). The sums
// go over the distinct codes in the order the region first meets them, so the same
// frame and regions always give the same figures to the last bit.
RegionFigures plotFigures(Tally& tally, std::size_t pixels, Scratch& s, const std::array<float, 256>& nirR,
                          const std::array<float, 256>& redR)
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
            s.ndvi[c] = ndviOfReflectances(nirR[nir], redR[red]);
            s.ndviFrame[c] = s.frame;
        }
        const float v = s.ndvi[c];
        if (v == kNdviMarker) {
            f.nodata += n;
            continue;
        }
        if (s.values.empty() || v < low) low = v;
        if (s.values.empty() || v > high) high = v;
        const std::uint32_t b = bucketOf(v);
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
    std::array<float, 256> nirR{};
    std::array<float, 256> redR{};
    for (int b = 0; b < 256; ++b) {
        nirR[static_cast<std::size_t>(b)] = bandReflectance(static_cast<std::uint8_t>(b), figures.model.nir);
        redR[static_cast<std::size_t>(b)] = bandReflectance(static_cast<std::uint8_t>(b), figures.model.red);
    }
    const std::size_t plots = plan.whiteSlot != kNone ? plan.whiteSlot : plan.slots.size();
    for (std::size_t i = 0; i < plots; ++i) figures.plots.push_back(plotFigures(s.tallies[i], plan.pixels[i], s, nirR, redR));
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
                                   const NdviModel& m, std::vector<float>& values)
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
        const float v = correctedNdvi(correctedReflectance(p.nir[i], m.nir), correctedReflectance(p.red[i], m.red));
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
        figures.plots.push_back(correctedPlotFigures(c.codes[i], c.slots[i], figures.model, values));
    }
    return figures;
}

void checkCancel(const RunControl& control)
{
    if (control.cancel && control.cancel->load(std::memory_order_relaxed)) throw runtime::EAbort();
}

// The time fields a name pattern reads.
struct TimeFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

bool isLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysIn(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

// Whether the pattern is one byText() takes: directives %Y %m %d %H %M %S %% only, with
// the date's three among them.
bool validPattern(std::string_view pattern)
{
    bool year = false, month = false, day = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        if (++i == pattern.size()) return false;
        switch (pattern[i]) {
        case 'Y': year = true; break;
        case 'm': month = true; break;
        case 'd': day = true; break;
        case 'H':
        case 'M':
        case 'S':
        case '%': break;
        default: return false;
        }
    }
    return year && month && day;
}

// Reads the fields from the start of name by the pattern; nothing when it does not
// match or a field is out of its range.
std::optional<TimeFields> readName(std::string_view name, std::string_view pattern)
{
    TimeFields t;
    std::size_t at = 0;
    const auto digits = [&](std::size_t count, int& value) {
        if (name.size() - at < count) return false;
        value = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const char c = name[at + k];
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        at += count;
        return true;
    };
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char literal = pattern[i];
        if (literal == '%') {
            const char d = pattern[++i];
            bool ok = true;
            switch (d) {
            case 'Y': ok = digits(4, t.year); break;
            case 'm': ok = digits(2, t.month); break;
            case 'd': ok = digits(2, t.day); break;
            case 'H': ok = digits(2, t.hour); break;
            case 'M': ok = digits(2, t.minute); break;
            case 'S': ok = digits(2, t.second); break;
            default: literal = '%'; break;
            }
            if (!ok) return std::nullopt;
            if (d != '%') continue;
        }
        if (at >= name.size() || name[at] != literal) return std::nullopt;
        ++at;
    }
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > daysIn(t.year, t.month) || t.hour > 23 || t.minute > 59
        || t.second > 59) {
        return std::nullopt;
    }
    return t;
}

std::string isoTime(const TimeFields& t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return text;
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

// A float is written as the double it is, so that it reads back as that same double.
template <typename T>
std::string optionalNumber(const std::optional<T>& v)
{
    return v ? shortestText(static_cast<double>(*v)) : std::string();
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

std::optional<TimeSource> TimeSource::byText(std::string_view text)
{
    if (text == "mtime") return TimeSource{};
    constexpr std::string_view prefix = "name:";
    if (!text.starts_with(prefix)) return std::nullopt;
    const std::string_view pattern = text.substr(prefix.size());
    if (pattern.empty() || !validPattern(pattern)) return std::nullopt;
    return TimeSource{Kind::Name, std::string(pattern)};
}

std::string frameTime(const std::string& path, const TimeSource& source)
{
    if (source.kind == TimeSource::Kind::Name) {
        const std::string name = platform::utf8Of(platform::pathOf(path).filename());
        const auto t = readName(name, source.pattern);
        if (!t) frameFailure(path, "ファイル名が時刻の形 " + source.pattern + " に合いません");
        return isoTime(*t);
    }
    std::tm local{};
    if (!platform::modifiedLocalCalendar(path, local)) {
        frameFailure(path, "ファイルの更新日時を読めません");
    }
    return isoTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec});
}

namespace {

// Seconds from 1970-01-01T00:00:00 of an isoTime() text (as a local time, which is
// enough to compare two of them); nothing for any other text.
std::optional<std::int64_t> secondsOf(std::string_view iso)
{
    const auto t = readName(iso, "%Y-%m-%dT%H:%M:%S");
    if (!t || iso.size() != 19) return std::nullopt;
    // Days from the civil date (Howard Hinnant's days_from_civil).
    const int y = t->year - (t->month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int mp = (t->month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + t->day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
    return days * 86400 + t->hour * 3600 + t->minute * 60 + t->second;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The name's start up to at, as a pattern's literal text.
std::string literalPattern(std::string_view text)
{
    std::string p;
    for (const char c : text) {
        p += c;
        if (c == '%') p += '%';
    }
    return p;
}

}  // namespace

std::optional<std::string> proposedNamePattern(const std::vector<std::string>& names)
{
    if (names.empty()) return std::nullopt;
    const std::string_view first = names.front();
    const auto readsAll = [&](const std::string& pattern) {
        for (const std::string& n : names) {
            if (!readName(n, pattern)) return false;
        }
        return true;
    };
    // The first place in the first name where a date starts, as 20260601 or 2026-06-01
    // (or _ . in place of -), and a time after it as 083000 or 08-30-00 when one follows.
    for (std::size_t at = 0; at + 8 <= first.size(); ++at) {
        if (at > 0 && isDigit(first[at - 1])) continue;
        const std::string prefix = literalPattern(first.substr(0, at));
        std::vector<std::string> dates;
        if (at + 10 <= first.size() && (first[at + 4] == '-' || first[at + 4] == '_' || first[at + 4] == '.')
            && first[at + 7] == first[at + 4]) {
            const char sep = first[at + 4];
            dates.push_back(std::string("%Y") + sep + "%m" + sep + "%d");
        }
        dates.push_back("%Y%m%d");
        for (const std::string& date : dates) {
            const std::string datePattern = prefix + date;
            if (!readName(first, datePattern)) continue;
            std::vector<std::string> candidates;
            for (const std::string_view sep : {"", "_", "-", "T", " ", "."}) {
                const std::string s = literalPattern(sep);
                candidates.push_back(datePattern + s + "%H%M%S");
                for (const char inner : {'-', '_', '.', ':'}) {
                    candidates.push_back(datePattern + s + "%H" + inner + "%M" + inner + "%S");
                }
            }
            candidates.push_back(datePattern);
            for (const std::string& c : candidates) {
                if (readName(first, c) && readsAll(c)) return c;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> seasonTimeWarning(const std::vector<SeasonFrame>& frames, const TimeSource& source,
                                             std::string_view where)
{
    if (source.kind != TimeSource::Kind::ModificationTime || frames.size() < 2) return std::nullopt;
    std::int64_t low = 0, high = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto t = secondsOf(frames[i].time);
        if (!t) return std::nullopt;
        low = i == 0 ? *t : std::min(low, *t);
        high = i == 0 ? *t : std::max(high, *t);
    }
    if (high - low > kSameTimeSeconds) return std::nullopt;
    std::string text = "全 " + std::to_string(frames.size()) + " フレームの更新日時が " + std::to_string(kSameTimeSeconds)
                       + " 秒以内に収まっています。カードからのコピーなどで更新日時が撮影日時を表していないおそれがあり、"
                         "時刻と並び順は正しくないかもしれません。";
    std::vector<std::string> names;
    for (const SeasonFrame& f : frames) names.push_back(platform::utf8Of(platform::pathOf(f.file).filename()));
    if (const auto pattern = proposedNamePattern(names)) {
        text += "ファイル名の日付から時刻を読むには" + std::string(where) + "name:" + *pattern + " を指定してください";
    } else {
        text += "ファイル名に日付があれば" + std::string(where) + "name:PATTERN（例: name:cam_%Y%m%d_%H%M%S）で時刻を読めます";
    }
    return text;
}

void sortSeasonFrames(std::vector<SeasonFrame>& frames)
{
    std::stable_sort(frames.begin(), frames.end(), [](const SeasonFrame& a, const SeasonFrame& b) {
        return a.time != b.time ? a.time < b.time : a.file < b.file;
    });
}

std::string seasonCsvHeader(bool markers)
{
    return std::string("file,time,region,pixels,ndvi_mean,ndvi_std,ndvi_min,ndvi_p05,ndvi_median,ndvi_p95,ndvi_max,"
                       "nodata_pixels,nir_mean,red_mean,saturated_pixels,nir_white,red_white,panel_warning,nir_dark,"
                       "red_dark")
           + (markers ? ",markers_found,registration_rms_px\n" : "\n");
}

std::string seasonCsvRows(const SeasonFrame& frame, const RegionSet& regions)
{
    const FrameFigures& f = frame.figures;
    std::string warnings;
    for (const PanelCheck check : f.panelWarnings) {
        if (!warnings.empty()) warnings += ';';
        warnings += panelCheckKey(check);
    }
    std::string darks = ",";
    if (f.hasDark) {
        // The floats the model uses, as the shortest text that reads back as that float:
        // a mean of 12.4 reads 12.4, not the double nearest the float.
        darks = shortestText(f.model.nir.dnDark) + ',' + shortestText(f.model.red.dnDark);
    }
    std::string placed;
    if (regions.usesMarkers()) {
        placed = ',';
        if (f.registration) {
            placed += std::to_string(f.registration->fieldFound) + ',';
            // In thousandths of a pixel: the corners are found to a few hundredths, and an
            // unmoved frame's 1e-14 is no figure.
            if (f.registration->rmsPx) placed += shortestText(std::round(*f.registration->rmsPx * 1000) / 1000);
        } else {
            placed += ',';
        }
    }
    const std::string tail = ',' + shortestText(static_cast<double>(f.model.nir.dnWhite)) + ','
                             + shortestText(static_cast<double>(f.model.red.dnWhite)) + ',' + warnings + ',' + darks
                             + placed + '\n';
    const std::string head = csvField(frame.file) + ',' + csvField(frame.time) + ',';
    const std::vector<const Region*> plots = regions.plots();
    std::string rows;
    for (std::size_t i = 0; i < plots.size() && i < f.plots.size(); ++i) {
        const RegionFigures& r = f.plots[i];
        rows += head + csvField(plots[i]->name) + ',' + std::to_string(r.pixels) + ',' + optionalNumber(r.mean) + ','
                + optionalNumber(r.stddev) + ',' + optionalNumber(r.min) + ',' + optionalNumber(r.p05) + ','
                + optionalNumber(r.median) + ',' + optionalNumber(r.p95) + ',' + optionalNumber(r.max) + ','
                + std::to_string(r.nodata) + ',' + shortestText(r.nirMean) + ',' + shortestText(r.redMean) + ','
                + std::to_string(r.saturated) + tail;
    }
    return rows;
}

}  // namespace engine
