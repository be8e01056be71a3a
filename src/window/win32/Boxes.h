#pragma once
// The window's boxes, drawn by the program itself rather than by MessageBoxW, whose
// buttons follow the Windows display language: here they read as the rest of the
// window does, in Japanese, on every system.

#include <windows.h>

#include <string>

namespace window::win32 {

enum class BoxKind {
    Message,   // no icon, "OK"; Enter and Esc both dismiss it
    Error,     // the stop icon, "OK"
    Question,  // "Yes" and "No", No the default and Esc's answer
};

enum class BoxAnswer { Ok, Yes, No };

// The controls of a box, for whoever reads one that is up (the tests).
inline constexpr int kBoxTextId = 100;
inline constexpr int kBoxIconId = 101;

// The buttons' texts.
extern const wchar_t* const kOkText;
extern const wchar_t* const kYesText;
extern const wchar_t* const kNoText;

// The caption of the window and of its boxes: the title rule over this program's file.
std::wstring programTitle();

// Shows the box modally over owner (which it disables meanwhile), centred on owner's
// monitor, the text unchanged: line feeds break lines, long lines wrap at half the
// monitor's width.
BoxAnswer showBox(HWND owner, BoxKind kind, const std::wstring& caption, const std::wstring& text);

}  // namespace window::win32
