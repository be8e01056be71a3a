#include "engine/season/FramePlan.h"

#include "engine/platform/PerThread.h"
#include "engine/season/Markers.h"

#include <algorithm>
#include <cmath>

namespace engine::seasonparts {

[[noreturn]] void frameFailure(const std::string& path, const std::string& problem)
{
    throw RegionsError(path + ": " + problem);
}

std::string regionName(const Region& region)
{
    return "領域 \"" + region.name + "\"";
}


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

}  // namespace engine::seasonparts
