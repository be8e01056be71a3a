#pragma once
// Texts the application builds around messages: the error box's full stop and the
// application title that captions every box.

#include <string>
#include <string_view>

namespace runtime {

// The error box shows a message with an ASCII "." appended when the message is not
// empty and its last character sorts after "." byte-wise in the Japanese code page:
// every Japanese character, letter and digit does; ".", ",", "-", a space do not.
std::string errorBoxText(std::string_view message);

// The application title comes from the program file: the name after the last "/" of
// its path, cut at the first ".", every character after the first in lower case.
std::string applicationTitle(std::string_view programPath);

}  // namespace runtime
