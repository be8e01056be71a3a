// Any text as a regions file: refused with a RegionsError, or a set that the in-memory
// check also takes, that writes out and reads back as the same text, and whose regions'
// pixel runs lie in their bounds, by rows from the top, none overlapping.

#include "FuzzHarness.h"

#include "engine/season/Regions.h"

#include <string_view>

using namespace fuzzing;

namespace {

// Walking the rows of a region as large as the format allows takes seconds and
// hundreds of megabytes: the runs are checked on regions of up to this many rows.
constexpr std::int64_t kRowBudget = 1 << 12;

void checkRuns(const engine::Region& region)
{
    const auto bounds = engine::regionBounds(region);
    if (!bounds) {
        FUZZ_CHECK(region.isPolygon());
        FUZZ_CHECK(engine::regionRuns(region).empty());
        return;
    }
    FUZZ_CHECK(bounds->x1 <= bounds->x2 && bounds->y1 <= bounds->y2);
    if (std::int64_t{bounds->y2} - bounds->y1 >= kRowBudget) return;
    const auto runs = engine::regionRuns(region);
    FUZZ_CHECK(!runs.empty());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto& r = runs[i];
        FUZZ_CHECK(r.x1 <= r.x2 && r.x1 >= bounds->x1 && r.x2 <= bounds->x2 && r.y >= bounds->y1 && r.y <= bounds->y2);
        if (i > 0) {
            const auto& p = runs[i - 1];
            FUZZ_CHECK(p.y < r.y || (p.y == r.y && p.x2 < r.x1));
        }
    }
    FUZZ_CHECK(runs.front().y == bounds->y1 && runs.back().y == bounds->y2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    engine::RegionSet set;
    try {
        set = engine::parseRegions(text, "regions.json");
    } catch (const engine::RegionsError& e) {
        FUZZ_CHECK(std::string_view(e.what()).starts_with("regions.json"));
        return 0;
    }
    FUZZ_CHECK(!engine::regionsProblem(set));
    const std::string json = engine::regionsJson(set);
    FUZZ_CHECK(engine::regionsJson(engine::parseRegions(json, "again.json")) == json);
    for (const auto& region : set.regions) checkRuns(region);
    return 0;
}
