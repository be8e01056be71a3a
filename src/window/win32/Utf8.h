#pragma once
// Text crosses the window's seams as UTF-8; Windows takes and gives UTF-16. Every
// conversion goes through here, never through the ANSI calls, so names in any script
// survive whatever code page the system runs.

#include <string>
#include <string_view>

namespace window::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

}  // namespace window::win32
