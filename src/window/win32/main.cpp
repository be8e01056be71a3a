// Start-up on Windows: the one window and its event loop. Errors that escape an event
// handler are shown in the error box and the program goes on; one that escapes the
// start-up itself is shown the same way, then the program ends.

#include "window/win32/Boxes.h"
#include "window/win32/Form87.h"
#include "window/win32/Utf8.h"
#include "runtime/ErrorText.h"
#include "runtime/Exceptions.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

namespace {

void showStartupError(const std::string& message)
{
    window::win32::showBox(nullptr, window::win32::BoxKind::Error, window::win32::programTitle(),
                           window::win32::widen(runtime::errorBoxText(message)));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand)
{
    try {
        auto form = std::make_unique<window::win32::TForm87>();
        ShowWindow(form->handle(), showCommand);
        UpdateWindow(form->handle());
        return form->runEventLoop();
    } catch (...) {
        if (const auto text = runtime::caughtErrorText()) showStartupError(*text);
    }
    return 0;
}
