#pragma once
// "NIR,RED" values as the batch tool and the viewer take them on their command lines:
// two values with one comma between them and nothing else, read the same whatever the
// locale. Integers (target bytes, white values) are decimal; reflectances are decimal
// numbers with at most three decimals, as calibration sheets give them and the
// window's fields hold them. Ranges are each option's own to check.

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace engine {

struct TextPair {
    std::string_view nir, red;
};

// The two values of text, or nothing unless it has exactly one comma.
std::optional<TextPair> splitPair(std::string_view text) noexcept;

// An optional minus sign and decimal digits, in the range of int32.
std::optional<std::int32_t> decimalInteger(std::string_view text) noexcept;

// An optional minus sign (so that a negative reflectance is refused for its range
// rather than its form), digits with at most three more after a full stop, at least
// one digit in all: "0.92", "1", ".5", "1.". Rounded once to the nearest float.
std::optional<float> reflectance(std::string_view text) noexcept;

// Both values of a pair, or nothing when the pair or either value is not of its form.
std::optional<std::pair<std::int32_t, std::int32_t>> integerPair(std::string_view text) noexcept;
std::optional<std::pair<float, float>> reflectancePair(std::string_view text) noexcept;

}  // namespace engine
