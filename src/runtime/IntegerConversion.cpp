#include "runtime/IntegerConversion.h"

#include "runtime/Exceptions.h"

namespace runtime {

namespace {

int hexDigit(char c) noexcept
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::int32_t> tryStrToInt(std::string_view text) noexcept
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;

    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    std::size_t prefix = 0;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        prefix = 1;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        prefix = 2;
    }

    if (prefix != 0) {
        i += prefix;
        if (i == text.size()) return std::nullopt;
        std::uint32_t value = 0;
        int significant = 0;
        for (; i < text.size(); ++i) {
            const int d = hexDigit(text[i]);
            if (d < 0) return std::nullopt;
            if (significant != 0 || d != 0) {
                if (++significant > 8) return std::nullopt;
            }
            value = (value << 4) | static_cast<std::uint32_t>(d);
        }
        // The 32-bit pattern is the value; a minus sign negates it (wrapping like the
        // machine's own negation, so "-$80000000" stays INT32_MIN).
        const std::uint32_t result = negative ? 0u - value : value;
        return static_cast<std::int32_t>(result);
    }

    if (i == text.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::string notAnIntegerMessage(std::string_view text)
{
    std::string message = "'";
    message += text;
    message += "' は整数ではありません";
    return message;
}

std::int32_t strToInt(std::string_view text)
{
    if (auto value = tryStrToInt(text)) return *value;
    throw EConvertError(notAnIntegerMessage(text));
}

}  // namespace runtime
