#include "engine/platform/MappedRead.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace engine::platform {

namespace {

// The guarded bytes of this thread, read by the signal handler: plain values of
// initial-exec storage, which a handler may touch.
struct Guarded {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
    volatile std::sig_atomic_t lost = 0;
};
constinit thread_local Guarded guarded;

struct sigaction previousAction {};
std::uintptr_t pageSize = 4096;

void onBusError(int signal, siginfo_t* info, void* /*context*/)
{
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    // si_code > 0: raised by a fault, not sent by kill() or raise().
    if (info->si_code > 0 && at >= guarded.begin && at < guarded.end) {
        // A page of zeros in place of the one that cannot be read: the faulting load
        // then completes, and the reader learns of it from lost().
        void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
        if (::mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            guarded.lost = 1;
            return;
        }
    }
    // Not ours: the action from before the guard takes it. A fault repeats as soon as
    // this returns; a sent signal is sent again, held until then.
    ::sigaction(SIGBUS, &previousAction, nullptr);
    if (info->si_code <= 0) ::raise(signal);
}

void install()
{
    pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousAction);
}

}  // namespace

ReadGuard::ReadGuard(const void* data, std::size_t size) noexcept
    : outerData_(reinterpret_cast<const void*>(guarded.begin)),
      outerSize_(static_cast<std::size_t>(guarded.end - guarded.begin)), outerLost_(guarded.lost != 0)
{
    static std::once_flag once;
    std::call_once(once, install);
    guarded.lost = 0;
    guarded.begin = reinterpret_cast<std::uintptr_t>(data);
    guarded.end = guarded.begin + size;
}

ReadGuard::~ReadGuard()
{
    guarded.begin = reinterpret_cast<std::uintptr_t>(outerData_);
    guarded.end = guarded.begin + outerSize_;
    guarded.lost = outerLost_ ? 1 : 0;
}

bool ReadGuard::lost() const noexcept
{
    // The loads of the bytes asked about come before, as written.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    return guarded.lost != 0;
}

}  // namespace engine::platform
