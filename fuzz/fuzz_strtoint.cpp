// Any text through the integer conversion of field text, against a reference written
// the long way round: split the text into spaces, sign, prefix and digits, then
// compute the value in wide arithmetic.

#include "FuzzHarness.h"

#include "runtime/Exceptions.h"
#include "runtime/IntegerConversion.h"

#include <string_view>

using namespace fuzzing;

namespace {

std::optional<std::int32_t> reference(std::string_view text)
{
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    text.remove_prefix(start);
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (text.starts_with(prefix)) {
            base = 16;
            text.remove_prefix(prefix.size());
            break;
        }
    }
    if (text.empty()) return std::nullopt;
    const std::string_view digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (text.find_first_not_of(digits) != std::string_view::npos) return std::nullopt;
    const std::size_t significant = text.find_first_not_of('0');
    text.remove_prefix(significant == std::string_view::npos ? text.size() : significant);
    if (text.size() > (base == 16 ? 8u : 10u)) return std::nullopt;

    __int128 value = 0;
    for (const char ch : text) {
        const int d = ch <= '9' ? ch - '0' : (ch | 0x20) - 'a' + 10;
        value = value * base + d;
    }
    if (base == 16) {
        // The digits are a 32-bit pattern; the sign negates the pattern modulo 2^32.
        const auto pattern = static_cast<std::uint32_t>(value);
        return static_cast<std::int32_t>(negative ? 0u - pattern : pattern);
    }
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto value = runtime::tryStrToInt(text);
    FUZZ_CHECK(value == reference(text));
    try {
        const std::int32_t converted = runtime::strToInt(text);
        FUZZ_CHECK(value && converted == *value);
    } catch (const runtime::EConvertError& e) {
        FUZZ_CHECK(!value);
        FUZZ_CHECK(e.message() == "'" + std::string(text) + "' は整数ではありません");
    }
    return 0;
}
