#include "engine/platform/PlatformSeam.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace engine::platform {

namespace {

// The seam's state, shared by every thread that writes. A test arms it between runs;
// the counter is one atomic step per call, so the nth call is the nth in any
// interleaving of threads.
std::atomic<unsigned> faultMask{0};
std::atomic<std::uint64_t> faultAt{0};
std::atomic<std::uint64_t> faultTimes{1};
std::atomic<int> faultError{0};
std::atomic<std::uint64_t> calls{0};
std::atomic<bool> fired{false};

// A whole program armed to crash by its environment, for the crash tests: before main,
// so that its first call counts.
const bool armedFromEnvironment = [] {
    const char* at = std::getenv("ZRVIMAGE_CRASH_AT");
    if (!at || !*at) return false;
    char* end = nullptr;
    const unsigned long long nth = std::strtoull(at, &end, 10);
    if (*end != '\0' || nth == 0) return false;
    injectFault(CrashCalls, nth, kCrash);
    return true;
}();

}  // namespace

bool injected(Call kind) noexcept
{
    if ((faultMask.load(std::memory_order_relaxed) & kind) == 0) return false;
    const std::uint64_t n = calls.fetch_add(1) + 1;
    const std::uint64_t first = faultAt.load();
    if (first == 0 || n < first || n - first >= faultTimes.load()) return false;
    fired.store(true);
    const int error = faultError.load();
    if (error == kCrash) crashNow();
    errno = error;
    return true;
}

void injectFault(unsigned mask, std::uint64_t nth, int error, std::uint64_t times)
{
    faultMask.store(0);  // no call counts while the rest changes
    faultAt.store(nth);
    faultTimes.store(times);
    faultError.store(error);
    calls.store(0);
    fired.store(false);
    faultMask.store(mask);
}

std::filesystem::path pathOf(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string utf8Of(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::optional<std::vector<std::string>> folderNames(const std::string& folder)
{
    std::error_code error;
    std::filesystem::directory_iterator it(pathOf(folder), error);
    if (error) {
        errno = error.value();
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
        if (error) return std::nullopt;
        names.push_back(utf8Of(it->path().filename()));
    }
    if (error) return std::nullopt;
    return names;
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
