#pragma once
// The test seam shared by the platform layer's implementations (Platform.cpp).

#include "engine/platform/Platform.h"

namespace engine::platform {

// Whether this call of kind fails on purpose; sets errno when it does.
bool injected(Call kind) noexcept;

// Ends this process at once, as a kill does (the seam's kCrash).
[[noreturn]] void crashNow() noexcept;

}  // namespace engine::platform
