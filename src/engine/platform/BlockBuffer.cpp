#include "engine/platform/BlockBuffer.h"

#include <mutex>
#include <utility>
#include <vector>

namespace engine {

namespace {

// Two blocks read ahead and two written behind make one run; a few more serve a
// batch running files side by side or the window's next run.
constexpr std::size_t kMostKept = 8;
// Larger blocks (rows of hundreds of thousands of pixels) are rare enough to be freed.
constexpr std::size_t kLargestKept = std::size_t{4} << 20;
// Sizes rounded up to this, so that blocks of pictures of other widths fit the kept
// ones (a block is about 1 MiB whatever the row length).
constexpr std::size_t kGrain = std::size_t{256} << 10;

struct Kept {
    std::mutex mutex;
    std::vector<std::pair<std::unique_ptr<std::uint8_t[]>, std::size_t>> buffers;
};

Kept& kept()
{
    static Kept* const pool = new Kept;  // never destroyed: blocks may come back at exit
    return *pool;
}

}  // namespace

BlockBuffer::BlockBuffer(std::size_t bytes)
{
    {
        Kept& k = kept();
        std::lock_guard lock(k.mutex);
        for (auto it = k.buffers.begin(); it != k.buffers.end(); ++it) {
            if (it->second >= bytes) {
                data_ = std::move(it->first);
                capacity_ = it->second;
                k.buffers.erase(it);
                return;
            }
        }
    }
    capacity_ = (bytes + kGrain - 1) / kGrain * kGrain;
    data_ = std::make_unique_for_overwrite<std::uint8_t[]>(capacity_);
}

BlockBuffer::~BlockBuffer()
{
    if (!data_) return;
    Kept& k = kept();
    std::lock_guard lock(k.mutex);
    if (k.buffers.size() < kMostKept && capacity_ <= kLargestKept) k.buffers.emplace_back(std::move(data_), capacity_);
}

BlockBuffer& BlockBuffer::operator=(BlockBuffer&& other) noexcept
{
    BlockBuffer old(std::move(*this));
    data_ = std::move(other.data_);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
}

}  // namespace engine
