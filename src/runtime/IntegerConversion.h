#pragma once
// Text to signed 32-bit integer, as the window's fields are read.
//
// Leading spaces (not tabs) are skipped; one optional sign; then a hexadecimal number
// after "$", "x", "X", "0x" or "0X" (up to 8 significant digits, the bit pattern taken
// as is, so "$FFFFFFFF" is -1) or a decimal number in int32 range (a leading 0 is not
// octal). Nothing may follow the last digit.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace runtime {

std::optional<std::int32_t> tryStrToInt(std::string_view text) noexcept;

// Throws EConvertError "'<text>' は整数ではありません" with the text as typed.
std::int32_t strToInt(std::string_view text);

std::string notAnIntegerMessage(std::string_view text);

}  // namespace runtime
