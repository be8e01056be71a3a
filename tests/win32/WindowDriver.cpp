#include "WindowDriver.h"

#include "window/win32/Boxes.h"

#include <algorithm>
#include <cstdio>

namespace testing_support {

namespace {

WindowDriver* active = nullptr;

// The explorer-style file dialog's controls.
constexpr int kFileTypeList = 0x470;  // cmb1
constexpr int kNameCombo = 0x47c;     // cmb13
constexpr int kNameEdit = 0x480;      // edt1, in older layouts

bool isDialog(HWND window)
{
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return std::wstring_view(name) == L"#32770";
}

HWND nameField(HWND dialog)
{
    if (HWND combo = GetDlgItem(dialog, kNameCombo)) return combo;
    return GetDlgItem(dialog, kNameEdit);
}

void press(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace

std::wstring windowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string utf8(const std::wstring& text)
{
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    std::string out(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    return out;
}

WindowDriver::WindowDriver()
{
    active = this;
    hook_ = SetWindowsHookExW(WH_CBT, cbtHook, nullptr, GetCurrentThreadId());
}

WindowDriver::~WindowDriver()
{
    if (hook_) UnhookWindowsHookEx(hook_);
    active = nullptr;
}

// A dialog is answered once its modal loop runs: a thread timer, which that loop
// dispatches, hands it over.
LRESULT CALLBACK WindowDriver::cbtHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (active && code == HCBT_ACTIVATE) {
        const auto window = reinterpret_cast<HWND>(wParam);
        if (isDialog(window) && std::find(active->answered_.begin(), active->answered_.end(), window) == active->answered_.end()) {
            active->answered_.push_back(window);
            active->waiting_.push_back(window);
            SetTimer(nullptr, 0, 1, onTimer);
        }
    }
    if (active && code == HCBT_DESTROYWND) {
        auto& seen = active->answered_;
        seen.erase(std::remove(seen.begin(), seen.end(), reinterpret_cast<HWND>(wParam)), seen.end());
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK WindowDriver::onTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    if (!active) return;
    std::vector<HWND> waiting;
    waiting.swap(active->waiting_);
    for (HWND dialog : waiting) {
        if (IsWindow(dialog)) active->answer(dialog);
    }
}

void WindowDriver::answer(HWND dialog)
{
    if (GetDlgItem(dialog, kFileTypeList)) {
        answerFileDialog(dialog);
    } else {
        answerBox(dialog);
    }
}

void WindowDriver::answerFileDialog(HWND dialog)
{
    ShownDialog shown;
    shown.title = windowText(dialog);
    shown.filter = windowText(GetDlgItem(dialog, kFileTypeList));
    shown.proposed = windowText(nameField(dialog));
    dialogs.push_back(shown);
    std::optional<std::wstring> reply;
    if (!fileAnswers.empty()) {
        reply = fileAnswers.front();
        fileAnswers.pop_front();
    }
    if (reply) {
        SetWindowTextW(nameField(dialog), reply->c_str());
        press(dialog, IDOK);
    } else {
        press(dialog, IDCANCEL);
    }
}

void WindowDriver::answerBox(HWND dialog)
{
    ShownBox shown;
    shown.caption = windowText(dialog);
    shown.text = windowText(GetDlgItem(dialog, window::win32::kBoxTextId));
    shown.stopIcon = GetDlgItem(dialog, window::win32::kBoxIconId) != nullptr;
    for (int id : {IDOK, IDYES, IDNO}) {
        if (HWND button = GetDlgItem(dialog, id)) shown.buttons.push_back(windowText(button));
    }
    const int defaultId = LOWORD(SendMessageW(dialog, DM_GETDEFID, 0, 0));
    if (HWND button = GetDlgItem(dialog, defaultId)) shown.defaultButton = windowText(button);
    boxes.push_back(shown);
    if (echoBoxes) std::fprintf(stderr, "box: %s\n", utf8(shown.text).c_str());
    if (onBox) onBox(shown);
    int reply = defaultId;
    if (!boxAnswers.empty()) {
        reply = boxAnswers.front();
        boxAnswers.pop_front();
    }
    press(dialog, reply);
}

}  // namespace testing_support
