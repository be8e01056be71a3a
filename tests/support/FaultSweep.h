#pragma once
// Fails every output call of a run in turn: the run is made once with nothing failing,
// counting its calls, then once more for each call and each error, with that call
// failing. What the run must leave behind is the caller's to check.

#include "engine/platform/Platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>

namespace testing_support {

// Calls after(label) after every run, the first one (nothing failed) included; label
// says which call failed. Returns how many faults were injected.
inline std::uint64_t sweepFaults(const std::function<void()>& run, const std::function<void(const std::string&)>& after)
{
    namespace platform = engine::platform;
    platform::injectFault(platform::AnyCall, 0, 0);
    run();
    const std::uint64_t calls = platform::callsSinceInjection();
    platform::injectFault(0, 0, 0);
    after("no call failing");
    EXPECT_GT(calls, 0u);
    std::uint64_t faults = 0;
    for (const int error : {ENOSPC, EIO}) {
        for (std::uint64_t n = 1; n <= calls; ++n) {
            platform::injectFault(platform::AnyCall, n, error);
            run();
            const bool fired = platform::faultFired();
            platform::injectFault(0, 0, 0);
            const std::string label = "call " + std::to_string(n) + " of " + std::to_string(calls) + " failing with " +
                                      (error == ENOSPC ? "ENOSPC" : "EIO");
            EXPECT_TRUE(fired) << label;
            faults += fired ? 1 : 0;
            after(label);
        }
    }
    return faults;
}

}  // namespace testing_support
