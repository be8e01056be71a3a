#pragma once
// Which pixels a season's frame reads for its regions, walked once per frame size and
// set of regions: the season's own piece (Season.cpp, SeasonFigures), not for use elsewhere.

#include "engine/season/Season.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace engine::seasonparts {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

[[noreturn]] void frameFailure(const std::string& path, const std::string& problem);
std::string regionName(const Region& region);

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

// The plan of a frame of this size over these regions; the last one a thread made is
// kept, so frame after frame of one season plans once. Throws RegionsError naming path.
const FramePlan& framePlan(std::int64_t width, std::int64_t height, const std::string& path, const RegionSet& regions,
                           const SeasonSettings& settings);

}  // namespace engine::seasonparts
