#pragma once
// How a front end follows and stops a long run: a call after rows are done and a cancel
// flag, checked by the run's own thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace engine {

struct RunControl {
    // After rows are done, with how many and the pixels each took (0 for rows of an
    // empty rectangle): one row at a time, except where the crop copies whole blocks of
    // rows, which it reports once each block has gone to the output. The window pumps
    // its events and steps its bar once per row here.
    std::function<void(std::int64_t rows, std::size_t pixelsPerRow)> onRows;
    // Checked before every row, or block of rows where they go by blocks; when set the
    // run stops with runtime::EAbort.
    const std::atomic<bool>* cancel = nullptr;
};

}  // namespace engine
