#pragma once
// One region's pixels counted per (NIR, red) code on a frame, and the memory a thread
// keeps from frame to frame: the season's own piece, not for use elsewhere.

#include "engine/calibration/Panel.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace engine::seasonparts {

constexpr std::size_t kBuckets = 1024;

// The values' buckets for the order statistics: an index's range spread evenly over the
// buckets, whatever lies beyond it in the end ones. NDVI's is -1..1, 512 a unit. The
// order statistics stay exact for any float as long as a larger value never gets a
// lower bucket, so the quotient is limited before it becomes an integer (a cast of a
// float past 2^32, or of a NaN, is undefined).
struct BucketScale {
    float low = -1.0f;
    float perUnit = 512.0f;

    static BucketScale of(double low, double high) noexcept
    {
        return {static_cast<float>(low), static_cast<float>(kBuckets / (high - low))};
    }
};

inline std::uint32_t bucketOf(float v, BucketScale scale = {}) noexcept
{
    const float b = (v - scale.low) * scale.perUnit;
    if (!(b > 0)) return 0;  // a NaN too, which no index gives
    return b >= static_cast<float>(kBuckets - 1) ? static_cast<std::uint32_t>(kBuckets - 1) : static_cast<std::uint32_t>(b);
}

// One NDVI value of a region: its pixels and its bucket for the order statistics.
struct SeasonValue {
    float value;
    std::uint32_t bucket;
    std::uint64_t pixels;
};

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
    // Each code's value (NDVI or the season's index) under this frame's model, computed
    // the first time a region of the frame meets it: a frame's regions hold a few
    // thousand codes, and building all 65,536 would cost more than reading the frame.
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

}  // namespace engine::seasonparts
