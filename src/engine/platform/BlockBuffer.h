#pragma once
// Memory for a block of rows, kept for the next run once a run is done with it. A
// fresh megabyte costs its page faults on first touch (about 0.4 ms a MiB on the
// virtual machines this runs on, a sixth of a 2048x1536 NDVI); a kept one costs
// nothing. At most a few blocks are kept, so memory stays flat.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace engine {

class BlockBuffer {
public:
    BlockBuffer() = default;
    // At least bytes bytes, uninitialised: a kept buffer when one is large enough.
    explicit BlockBuffer(std::size_t bytes);
    ~BlockBuffer();  // hands the memory back to be kept, or frees it
    BlockBuffer(BlockBuffer&& other) noexcept
        : data_(std::move(other.data_)), capacity_(std::exchange(other.capacity_, 0))
    {
    }
    BlockBuffer& operator=(BlockBuffer&& other) noexcept;

    std::uint8_t* get() const noexcept { return data_.get(); }
    std::size_t capacity() const noexcept { return capacity_; }
    void swap(BlockBuffer& other) noexcept
    {
        data_.swap(other.data_);
        std::swap(capacity_, other.capacity_);
    }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t capacity_ = 0;
};

}  // namespace engine
