#include "window/win32/Boxes.h"

#include "window/win32/Utf8.h"
#include "runtime/ErrorText.h"

#include <algorithm>
#include <vector>

namespace window::win32 {

std::wstring programTitle()
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            // The title rule reads the name after the last "/"; Windows paths part at "\" too.
            std::string program = narrow(std::wstring_view(path.data(), length));
            std::replace(program.begin(), program.end(), '\\', '/');
            return widen(runtime::applicationTitle(program));
        }
        path.resize(path.size() * 2);
    }
}

const wchar_t* const kOkText = L"OK";
const wchar_t* const kYesText = L"はい(&Y)";
const wchar_t* const kNoText = L"いいえ(&N)";

namespace {

struct Box {
    BoxKind kind;
    const std::wstring* caption;
    const std::wstring* text;
    HFONT font = nullptr;
};

// A dialog template with no controls: the box makes its own once it knows its text.
struct alignas(4) EmptyTemplate {
    DLGTEMPLATE dialog;
    WORD menu = 0, windowClass = 0, title = 0;
};

int scaled(HWND window, int pixels)
{
    HDC dc = GetDC(window);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return MulDiv(pixels, dpi, 96);
}

HWND makeChild(HWND box, const wchar_t* cls, const wchar_t* text, DWORD style, int id, HFONT font)
{
    HWND child = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, box,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(box, GWLP_HINSTANCE)), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

void layOut(HWND dialog, Box& box)
{
    SetWindowTextW(dialog, box.caption->c_str());
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    box.font = CreateFontIndirectW(&metrics.lfMessageFont);

    HMONITOR monitor = MonitorFromWindow(GetWindow(dialog, GW_OWNER), MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO area{};
    area.cbSize = sizeof area;
    GetMonitorInfoW(monitor, &area);
    const RECT work = area.rcWork;

    const int margin = scaled(dialog, 12);
    const int gap = scaled(dialog, 12);
    const int buttonWidth = scaled(dialog, 75);
    const int buttonHeight = scaled(dialog, 23);
    const int iconSize = GetSystemMetrics(SM_CXICON);

    // The text's size as it will wrap: at half the monitor's width.
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, box.font);
    RECT textRect{0, 0, (work.right - work.left) / 2, 0};
    const std::wstring& text = box.text->empty() ? std::wstring(L" ") : *box.text;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS | DT_EDITCONTROL);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    const int textWidth = textRect.right - textRect.left + 2;
    const int textHeight = textRect.bottom - textRect.top;

    const bool withIcon = box.kind == BoxKind::Error;
    const int textLeft = margin + (withIcon ? iconSize + gap : 0);
    const int buttons = box.kind == BoxKind::Question ? 2 : 1;
    const int buttonsWidth = buttons * buttonWidth + (buttons - 1) * scaled(dialog, 6);
    const int contentHeight = std::max(textHeight, withIcon ? iconSize : 0);
    const int clientWidth = std::max(textLeft + textWidth + margin, buttonsWidth + 2 * margin);
    const int clientHeight = margin + contentHeight + gap + buttonHeight + margin;

    if (withIcon) {
        HWND icon = makeChild(dialog, L"STATIC", nullptr, SS_ICON, kBoxIconId, box.font);
        SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_HAND)), 0);
        MoveWindow(icon, margin, margin, iconSize, iconSize, FALSE);
    }
    HWND label = makeChild(dialog, L"STATIC", box.text->c_str(), SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL,
                           kBoxTextId, box.font);
    MoveWindow(label, textLeft, margin + (contentHeight - textHeight) / 2, textWidth, textHeight, FALSE);

    int x = (clientWidth - buttonsWidth) / 2;
    const int y = clientHeight - margin - buttonHeight;
    HWND focus = nullptr;
    if (box.kind == BoxKind::Question) {
        HWND yes = makeChild(dialog, L"BUTTON", kYesText, BS_PUSHBUTTON | WS_TABSTOP, IDYES, box.font);
        MoveWindow(yes, x, y, buttonWidth, buttonHeight, FALSE);
        x += buttonWidth + scaled(dialog, 6);
        focus = makeChild(dialog, L"BUTTON", kNoText, BS_DEFPUSHBUTTON | WS_TABSTOP, IDNO, box.font);
        SendMessageW(dialog, DM_SETDEFID, IDNO, 0);
    } else {
        focus = makeChild(dialog, L"BUTTON", kOkText, BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, box.font);
        SendMessageW(dialog, DM_SETDEFID, IDOK, 0);
    }
    MoveWindow(focus, x, y, buttonWidth, buttonHeight, FALSE);
    SetFocus(focus);

    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(dialog, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER);
}

INT_PTR CALLBACK boxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        auto* box = reinterpret_cast<Box*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        layOut(dialog, *box);
        return FALSE;  // the focus is set
    }
    case WM_COMMAND: {
        const auto* box = reinterpret_cast<Box*>(GetWindowLongPtrW(dialog, DWLP_USER));
        const bool question = box->kind == BoxKind::Question;
        switch (LOWORD(wParam)) {
        case IDOK: EndDialog(dialog, static_cast<INT_PTR>(question ? BoxAnswer::No : BoxAnswer::Ok)); return TRUE;
        case IDCANCEL:
            EndDialog(dialog, static_cast<INT_PTR>(question ? BoxAnswer::No : BoxAnswer::Ok));
            return TRUE;
        case IDYES: EndDialog(dialog, static_cast<INT_PTR>(BoxAnswer::Yes)); return TRUE;
        case IDNO: EndDialog(dialog, static_cast<INT_PTR>(BoxAnswer::No)); return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

}  // namespace

BoxAnswer showBox(HWND owner, BoxKind kind, const std::wstring& caption, const std::wstring& text)
{
    EmptyTemplate empty{};
    empty.dialog.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFOREGROUND;
    Box box{kind, &caption, &text};
    const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &empty.dialog, owner, boxProc,
                                                   reinterpret_cast<LPARAM>(&box));
    if (box.font) DeleteObject(box.font);
    if (answer < 0) return kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
    return static_cast<BoxAnswer>(answer);
}

}  // namespace window::win32
