#include "window/win32/Utf8.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace window::win32 {

std::wstring widen(std::string_view utf8)
{
    if (utf8.empty()) return {};
    if (utf8.size() > INT_MAX) throw std::length_error("text too long");
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, result.data(), length);
    return result;
}

std::string narrow(std::wstring_view utf16)
{
    if (utf16.empty()) return {};
    if (utf16.size() > INT_MAX) throw std::length_error("text too long");
    const int size = static_cast<int>(utf16.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, result.data(), length, nullptr, nullptr);
    return result;
}

}  // namespace window::win32
