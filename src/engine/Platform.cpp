#include "engine/PlatformSeam.h"

#include <atomic>
#include <cerrno>

namespace engine::platform {

namespace {

// The seam's state, shared by every thread that writes. A test arms it between runs;
// the counter is one atomic step per call, so the nth call is the nth in any
// interleaving of threads.
std::atomic<unsigned> faultMask{0};
std::atomic<std::uint64_t> faultAt{0};
std::atomic<int> faultError{0};
std::atomic<std::uint64_t> calls{0};
std::atomic<bool> fired{false};

}  // namespace

bool injected(Call kind) noexcept
{
    if ((faultMask.load(std::memory_order_relaxed) & kind) == 0) return false;
    const std::uint64_t n = calls.fetch_add(1) + 1;
    if (n != faultAt.load()) return false;
    fired.store(true);
    errno = faultError.load();
    return true;
}

void injectFault(unsigned mask, std::uint64_t nth, int error)
{
    faultMask.store(0);  // no call counts while the rest changes
    faultAt.store(nth);
    faultError.store(error);
    calls.store(0);
    fired.store(false);
    faultMask.store(mask);
}

std::uint64_t callsSinceInjection()
{
    return calls.load();
}

bool faultFired()
{
    return fired.load();
}

}  // namespace engine::platform
