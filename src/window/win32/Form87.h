#pragma once
// The program's one window on plain Win32: built from the design's table like the Qt
// window, running the same three scripts through the same services.

#include "window/Services.h"

#include <windows.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace window::win32 {

class TForm87 final : public window::Services {
public:
    TForm87();
    ~TForm87() override;
    TForm87(const TForm87&) = delete;
    TForm87& operator=(const TForm87&) = delete;

    HWND handle() const noexcept { return form_; }
    // The control of that name in the design's table.
    HWND control(std::string_view name) const;
    // The control's command identifier (its position in the table, past the standard ones).
    static int controlId(std::string_view name);

    // The click handlers, one per button.
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();

    // Caption of every box: the application title derived from the program file.
    const std::wstring& applicationTitle() const noexcept { return applicationTitle_; }
    bool isRunning() const noexcept { return running_; }

    // Shows an error the way every unhandled error is shown: stop icon, the
    // application title as caption, the message with its full stop rule applied.
    void showErrorBox(const std::string& message);

    // The clock the pump decides by, in nanoseconds from any fixed start; a steady
    // clock unless a test sets its own.
    using Clock = std::function<std::int64_t()>;
    void setClock(Clock clock);
    // Called after every pass through the waiting events during a run.
    void setEventPassHook(std::function<void()> hook) { eventPassHook_ = std::move(hook); }

    // The program's event loop: runs until the window is closed and gives the status
    // the program ends with.
    int runEventLoop();

    // window::Services
    std::optional<std::string> chooseFile(window::FileDialog dialog, const window::FileDialogRequest& request) override;
    void showMessage(const std::string& text) override;
    std::string fieldText(window::Field field) override;
    void setResultLabel(window::ResultLabel label, const std::string& text) override;
    window::ProgressModel& progressBar() override { return progress_; }
    [[noreturn]] void exitProcess(int status) override;
    void pumpWhileWaiting() override { pumpNow(); }

    static const char* helpText();

protected:
    void pumpNow() override;
    // Pixels between two looks at the clock, as in the Qt window.
    std::int64_t pumpInterval() const override { return 16384; }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs one click handler: run buttons off meanwhile, every error shown in the
    // error box, a close asked for during the run carried out after it.
    void dispatch(const std::function<void()>& handler, bool isOperation);
    // Handles every waiting event, as the event loop would.
    void handleWaitingEvents();
    void close();
    void syncProgressBar();
    void setRunButtonsEnabled(bool enabled);
    void sizeLabelToText(HWND label);
    int scaled(int pixels) const { return MulDiv(pixels, dpi_, 96); }

    // What a file dialog keeps from one use to the next.
    struct DialogMemory {
        std::wstring fileName;
        DWORD filterIndex = 1;
    };

    HWND form_ = nullptr;
    HWND focused_ = nullptr;
    HFONT font_ = nullptr;
    int dpi_ = 96;
    std::map<std::string_view, HWND> controls_;
    std::wstring applicationTitle_;
    window::ProgressModel progress_;
    bool progressDirty_ = false;
    bool running_ = false;
    bool closeRequested_ = false;
    bool quitOnDestroy_ = true;
    DialogMemory openDialog_;
    DialogMemory saveDialog_;
    Clock clock_;
    std::int64_t lastEventPassNs_ = 0;
    std::function<void()> eventPassHook_;
};

}  // namespace window::win32
