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
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::string program = window::win32::narrow(std::wstring_view(path.data(), length));
    std::replace(program.begin(), program.end(), '\\', '/');
    window::win32::showBox(nullptr, window::win32::BoxKind::Error,
                           window::win32::widen(runtime::applicationTitle(program)),
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
    } catch (const runtime::EAbort&) {
    } catch (const runtime::Exception& e) {
        showStartupError(e.message());
    } catch (const std::exception& e) {
        showStartupError(e.what());
    } catch (...) {
        showStartupError("");
    }
    return 0;
}
