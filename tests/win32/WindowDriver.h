#pragma once
// Drives the Win32 window's modal dialogs and boxes from inside the test's own thread:
// a hook sees each one as it becomes active, the driver reads what it shows and
// answers it as a user would, through its own controls.

#include <windows.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A system file dialog as it was shown.
struct ShownDialog {
    std::wstring title;
    std::wstring filter;    // the file type list's selected entry
    std::wstring proposed;  // the name field as the dialog opened
};

// One of the window's own boxes as it was shown.
struct ShownBox {
    std::wstring caption;
    std::wstring text;
    std::vector<std::wstring> buttons;  // left to right
    std::wstring defaultButton;
    bool stopIcon = false;
};

class WindowDriver {
public:
    WindowDriver();
    ~WindowDriver();
    WindowDriver(const WindowDriver&) = delete;
    WindowDriver& operator=(const WindowDriver&) = delete;

    // Answers for the file dialogs, in order: a name typed into the name field and
    // confirmed, or nothing for Cancel. With none left a dialog is cancelled.
    std::deque<std::optional<std::wstring>> fileAnswers;
    // Buttons pressed in the boxes, in order (IDOK, IDYES, IDNO); with none left,
    // Enter: the default button.
    std::deque<int> boxAnswers;
    // Called for each box before it is answered.
    std::function<void(const ShownBox&)> onBox;
    // Boxes are echoed to standard error as UTF-8, for death tests.
    bool echoBoxes = false;

    std::vector<ShownDialog> dialogs;
    std::vector<ShownBox> boxes;

private:
    static LRESULT CALLBACK cbtHook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK onTimer(HWND, UINT, UINT_PTR, DWORD);
    void answer(HWND dialog);
    void answerFileDialog(HWND dialog);
    void answerBox(HWND dialog);

    HHOOK hook_ = nullptr;
    std::vector<HWND> waiting_;
    std::vector<HWND> answered_;
};

// A control's text.
std::wstring windowText(HWND window);

std::string utf8(const std::wstring& text);

}  // namespace testing_support
