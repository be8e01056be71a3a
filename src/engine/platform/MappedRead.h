#pragma once
// Reading a mapped file in user code. Once the file is cut under its mapping (or the
// disk fails), touching a page past its new end raises SIGBUS, which would end the
// process. While a ReadGuard lives, such a fault of its own thread inside its bytes
// is caught instead: the page reads as zeros from then on and lost() turns true, so
// that the reader reads those bytes through the file, which tells what went wrong.
// Any other SIGBUS goes where it would have gone without the guard.

#include <cstddef>

namespace engine::platform {

class ReadGuard {
public:
    ReadGuard(const void* data, std::size_t size) noexcept;
    ~ReadGuard();
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

    // Whether a page of the guarded bytes could not be read since the guard began.
    bool lost() const noexcept;

private:
    // The guard this one stands in front of in the same thread, back in charge after it.
    const void* outerData_;
    std::size_t outerSize_;
    bool outerLost_;
};

}  // namespace engine::platform
