#include "engine/formats/NumberPair.h"

#include <charconv>

namespace engine {

namespace {

bool allDigits(std::string_view text) noexcept
{
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string_view withoutMinus(std::string_view text) noexcept
{
    if (text.starts_with('-')) text.remove_prefix(1);
    return text;
}

}  // namespace

std::optional<TextPair> splitPair(std::string_view text) noexcept
{
    const auto comma = text.find(',');
    if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos) return std::nullopt;
    return TextPair{text.substr(0, comma), text.substr(comma + 1)};
}

std::optional<std::int32_t> decimalInteger(std::string_view text) noexcept
{
    const std::string_view digits = withoutMinus(text);
    if (digits.empty() || !allDigits(digits)) return std::nullopt;
    std::int32_t value = 0;
    // from_chars takes the minus sign itself and refuses what int32 cannot hold.
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<float> reflectance(std::string_view text) noexcept
{
    const std::string_view digits = withoutMinus(text);
    const auto point = digits.find('.');
    const std::string_view whole = digits.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : digits.substr(point + 1);
    if (whole.empty() && fraction.empty()) return std::nullopt;
    if (!allDigits(whole) || !allDigits(fraction) || fraction.size() > 3) return std::nullopt;
    float value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::pair<std::int32_t, std::int32_t>> integerPair(std::string_view text) noexcept
{
    const auto pair = splitPair(text);
    if (!pair) return std::nullopt;
    const auto nir = decimalInteger(pair->nir);
    const auto red = decimalInteger(pair->red);
    if (!nir || !red) return std::nullopt;
    return std::pair{*nir, *red};
}

std::optional<std::pair<float, float>> reflectancePair(std::string_view text) noexcept
{
    const auto pair = splitPair(text);
    if (!pair) return std::nullopt;
    const auto nir = reflectance(pair->nir);
    const auto red = reflectance(pair->red);
    if (!nir || !red) return std::nullopt;
    return std::pair{*nir, *red};
}

}  // namespace engine
