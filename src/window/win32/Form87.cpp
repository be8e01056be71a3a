#include "window/win32/Form87.h"

#include "window/AreaMaxima.h"
#include "window/Crop2048.h"
#include "window/Form87Layout.h"
#include "window/NdviRaster.h"
#include "window/win32/Boxes.h"
#include "window/win32/Utf8.h"
#include "runtime/ErrorText.h"
#include "runtime/Exceptions.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <vector>

namespace form87 = window::form87;

namespace window::win32 {

namespace {

// Waiting events are handled at most this often during a run, as in the Qt window.
constexpr std::int64_t kPumpPeriodNs = 10'000'000;

constexpr const wchar_t* kFormClass = L"ZrvimageForm87";
constexpr int kFirstControlId = 1000;  // clear of IDOK and IDCANCEL, which Enter and Esc send

// "description|pattern|..." as the system dialogs take it: each part ended by a NUL,
// the whole by a second one. Nothing is trimmed.
std::wstring dialogFilter(const std::string& filter)
{
    std::wstring result = widen(filter);
    std::replace(result.begin(), result.end(), L'|', L'\0');
    result.push_back(L'\0');
    result.push_back(L'\0');
    return result;
}

bool fileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring fileNameOf(const std::wstring& path)
{
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void registerFormClass(HINSTANCE instance, WNDPROC proc)
{
    WNDCLASSEXW cls{};
    if (GetClassInfoExW(instance, kFormClass, &cls)) return;
    cls.cbSize = sizeof cls;
    cls.style = CS_HREDRAW | CS_VREDRAW;
    cls.lpfnWndProc = proc;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    cls.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kFormClass;
    if (!RegisterClassExW(&cls)) throw std::runtime_error("RegisterClassExW failed");
}

}  // namespace

const char* TForm87::helpText()
{
    return form87::kHelpText.data();
}

int TForm87::controlId(std::string_view name)
{
    for (std::size_t i = 0; i < form87::kControls.size(); ++i) {
        if (form87::kControls[i].name == name) return kFirstControlId + static_cast<int>(i);
    }
    throw std::invalid_argument("no such control");
}

HWND TForm87::control(std::string_view name) const
{
    return controls_.at(name);
}

TForm87::TForm87() : applicationTitle_(programTitle())
{
    INITCOMMONCONTROLSEX common{sizeof common, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&common);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    registerFormClass(instance, windowProc);

    // The design is in pixels at 96 dpi; other settings get it scaled.
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    // Tahoma 8 pt at 96 dpi; Windows links it to a Japanese face for the Japanese texts.
    font_ = CreateFontW(-scaled(form87::kFontPixels), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                        widen(form87::kFontFamily).c_str());

    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT frame{0, 0, scaled(form87::kClientWidth), scaled(form87::kClientHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    form_ = CreateWindowExW(WS_EX_CONTROLPARENT, kFormClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
    if (!form_) throw std::runtime_error("CreateWindowExW failed");

    // Every control from the design's table. Windows sends a control's notices to its
    // parent window, and a group box passes none on, so the controls of a group are
    // children of the form placed within their group.
    std::map<std::string_view, POINT> origins{{form87::kFormName, POINT{0, 0}}};
    for (const form87::Control& c : form87::kControls) {
        const POINT parent = origins.at(c.parent.empty() ? form87::kFormName : c.parent);
        const int left = parent.x + c.left;
        const int top = parent.y + c.top;
        const wchar_t* cls = L"STATIC";
        DWORD controlStyle = WS_CHILD | WS_VISIBLE;
        DWORD exStyle = 0;
        switch (c.kind) {
        case form87::Kind::Label: controlStyle |= SS_LEFT | SS_NOPREFIX; break;
        case form87::Kind::ProgressBar: cls = PROGRESS_CLASSW; break;
        case form87::Kind::GroupBox: cls = L"BUTTON"; controlStyle |= BS_GROUPBOX | WS_CLIPSIBLINGS; break;
        case form87::Kind::Button: cls = L"BUTTON"; controlStyle |= BS_PUSHBUTTON | WS_TABSTOP; break;
        case form87::Kind::Edit:
            cls = L"EDIT";
            controlStyle |= ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        }
        // Labels, groups and the caption get their texts below, as the design's
        // constructor gives them; buttons and fields start with theirs.
        const bool startText = c.kind == form87::Kind::Button || c.kind == form87::Kind::Edit;
        const int width = c.width < 0 ? 0 : scaled(c.width);
        const int height = c.height < 0 ? 0 : scaled(c.height);
        HWND made = CreateWindowExW(exStyle, cls, startText ? widen(c.text).c_str() : L"", controlStyle,
                                    scaled(left), scaled(top), width, height, form_,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(c.name))), instance, nullptr);
        if (!made) throw std::runtime_error("CreateWindowExW failed");
        SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        controls_[c.name] = made;
        origins[c.name] = POINT{left, top};
    }

    // The run-time texts: the caption, the groups' titles, then the labels.
    SetWindowTextW(form_, widen(form87::kCaption).c_str());
    for (const form87::Control& c : form87::kControls) {
        if (c.kind == form87::Kind::GroupBox) SetWindowTextW(control(c.name), widen(c.text).c_str());
    }
    for (const form87::Control& c : form87::kControls) {
        if (c.kind != form87::Kind::Label) continue;
        SetWindowTextW(control(c.name), widen(c.text).c_str());
        sizeLabelToText(control(c.name));
    }

    // The keyboard goes through the controls in their order among the form's
    // children: the designed order first, then the rest, the groups last, drawn
    // beneath what they hold.
    HWND previous = HWND_TOP;
    for (std::string_view name : form87::kTabOrder) {
        SetWindowPos(control(name), previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = control(name);
    }
    for (const form87::Control& c : form87::kControls) {
        if (c.kind == form87::Kind::GroupBox) {
            SetWindowPos(control(c.name), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }

    progress_.setOnChange([this] { progressDirty_ = true; });
    progressDirty_ = true;
    syncProgressBar();

    clock_ = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    lastEventPassNs_ = clock_();
}

TForm87::~TForm87()
{
    if (form_) {
        quitOnDestroy_ = false;
        DestroyWindow(form_);
    }
    if (font_) DeleteObject(font_);
}

void TForm87::Button1Click()
{
    window::cropTo2048(*this);
}

void TForm87::Button2Click()
{
    window::findAreaMaxima(*this);
}

void TForm87::Button3Click()
{
    window::makeNdviRaster(*this);
}

void TForm87::Button4Click()
{
    showMessage(helpText());
}

int TForm87::runEventLoop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (form_ && IsDialogMessageW(form_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK TForm87::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<TForm87*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form && form->form_ == window) return form->onMessage(message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TForm87::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
            const int id = LOWORD(wParam);
            if (id == controlId("Button1")) dispatch([this] { Button1Click(); }, true);
            else if (id == controlId("Button2")) dispatch([this] { Button2Click(); }, true);
            else if (id == controlId("Button3")) dispatch([this] { Button3Click(); }, true);
            else if (id == controlId("Button4")) dispatch([this] { Button4Click(); }, false);
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC: {
        // Labels and group titles on the form's face, not on a window's white.
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_ACTIVATE:
        // The keyboard's place is kept while another window is active, and starts on
        // the first control of the keyboard order.
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (HWND focus = GetFocus(); focus && IsChild(form_, focus)) focused_ = focus;
        } else {
            SetFocus(focused_ && IsWindow(focused_) ? focused_ : control(form87::kTabOrder.front()));
        }
        return 0;
    case WM_CLOSE:
        if (running_) {
            // The run goes on to its end with the window shown; then the program ends.
            closeRequested_ = true;
            return 0;
        }
        close();
        return 0;
    case WM_DESTROY:
        if (quitOnDestroy_) PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        HWND window = form_;
        form_ = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    }
    return DefWindowProcW(form_, message, wParam, lParam);
}

void TForm87::close()
{
    if (form_) DestroyWindow(form_);
}

void TForm87::dispatch(const std::function<void()>& handler, bool isOperation)
{
    if (isOperation && running_) return;  // a run is under way; its buttons are off
    const bool startsRun = isOperation;
    if (startsRun) {
        running_ = true;
        lastEventPassNs_ = clock_();
        setRunButtonsEnabled(false);
    }
    // Nothing thrown may unwind through the system's frames above this one.
    try {
        handler();
    } catch (...) {
        if (const auto text = runtime::caughtErrorText()) showErrorBox(*text);
    }
    if (startsRun) {
        syncProgressBar();
        running_ = false;
        setRunButtonsEnabled(true);
        if (closeRequested_) close();
    }
}

void TForm87::setRunButtonsEnabled(bool enabled)
{
    for (std::string_view name : form87::kRunButtons) EnableWindow(control(name), enabled);
}

void TForm87::showErrorBox(const std::string& message)
{
    if (closeRequested_) return;
    showBox(form_, BoxKind::Error, applicationTitle_, widen(runtime::errorBoxText(message)));
}

void TForm87::showMessage(const std::string& text)
{
    syncProgressBar();
    // Once the window was closed during a run, the run's last messages return at once.
    if (closeRequested_) return;
    showBox(form_, BoxKind::Message, applicationTitle_, widen(text));
}

std::optional<std::string> TForm87::chooseFile(window::FileDialog which, const window::FileDialogRequest& request)
{
    if (closeRequested_) return std::nullopt;
    const bool open = which == window::FileDialog::Open;
    DialogMemory& memory = open ? openDialog_ : saveDialog_;
    const std::wstring title = widen(request.title);
    const std::wstring filter = dialogFilter(request.filter);
    // The system dialog adds the extension it is given without a dot.
    std::wstring extension = widen(request.defaultExt);
    if (!extension.empty() && extension.front() == L'.') extension.erase(0, 1);

    // The last confirmed name of this dialog is proposed again; its folder is the only
    // one remembered.
    std::wstring proposed = memory.fileName;
    for (;;) {
        std::vector<wchar_t> name(32768, L'\0');
        std::copy_n(proposed.begin(), std::min(proposed.size(), name.size() - 1), name.begin());
        OPENFILENAMEW dialog{};
        dialog.lStructSize = sizeof dialog;
        dialog.hwndOwner = form_;
        dialog.lpstrFilter = filter.c_str();
        dialog.nFilterIndex = memory.filterIndex;
        dialog.lpstrFile = name.data();
        dialog.nMaxFile = static_cast<DWORD>(name.size());
        dialog.lpstrTitle = title.c_str();
        dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
        // The save dialog does not ask before replacing: the question below does, in
        // a box of the program's own.
        dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_ENABLESIZING;

        syncProgressBar();
        const BOOL confirmed = open ? GetOpenFileNameW(&dialog) : GetSaveFileNameW(&dialog);
        if (!confirmed) {
            // A proposed name the dialog cannot take is dropped, and the dialog shown again.
            if (CommDlgExtendedError() != 0 && !proposed.empty()) {
                proposed.clear();
                continue;
            }
            return std::nullopt;
        }
        const std::wstring chosen(name.data());
        // The proposed name is the last output's, so Enter alone would replace an
        // earlier result: ask first, "No" the default, and back to the dialog on "No".
        if (!open && fileExists(chosen) &&
            showBox(form_, BoxKind::Question, title, fileNameOf(chosen) + L" は既に存在します。\n置き換えますか?") != BoxAnswer::Yes) {
            proposed = chosen;
            continue;
        }
        memory.fileName = chosen;
        memory.filterIndex = dialog.nFilterIndex;
        return narrow(chosen);
    }
}

std::string TForm87::fieldText(window::Field field)
{
    static constexpr std::array<std::string_view, 6> kEdits = {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6"};
    HWND edit = control(kEdits[static_cast<int>(field) - 1]);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
    return narrow(text);
}

void TForm87::setResultLabel(window::ResultLabel which, const std::string& text)
{
    static constexpr std::array<std::string_view, 3> kLabels = {"Label8", "Label9", "Label10"};
    HWND label = control(kLabels[static_cast<int>(which) - 8]);
    SetWindowTextW(label, widen(text).c_str());
    sizeLabelToText(label);
}

void TForm87::sizeLabelToText(HWND label)
{
    const int length = GetWindowTextLengthW(label);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(label, text.data(), length + 1)));
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, font_);
    SIZE size{0, 0};
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    if (!text.empty()) GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, 0, 0, size.cx, std::max<LONG>(size.cy, metrics.tmHeight),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(GetParent(label), nullptr, TRUE);
}

void TForm87::exitProcess(int status)
{
    std::exit(status);
}

void TForm87::pumpNow()
{
    const std::int64_t start = clock_();
    if (start - lastEventPassNs_ < kPumpPeriodNs) return;
    syncProgressBar();
    handleWaitingEvents();
    if (eventPassHook_) eventPassHook_();
    lastEventPassNs_ = clock_();
}

void TForm87::handleWaitingEvents()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Not ours to take: the loop that waits for it gets it again.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (form_ && IsDialogMessageW(form_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void TForm87::setClock(Clock clock)
{
    clock_ = std::move(clock);
    lastEventPassNs_ = clock_();
}

void TForm87::syncProgressBar()
{
    if (!progressDirty_ || !form_) return;
    progressDirty_ = false;
    HWND bar = control("ProgressBar1");
    // An empty range shows an empty bar.
    const bool empty = progress_.min() == progress_.max();
    SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(progress_.min()),
                 static_cast<LPARAM>(empty ? progress_.min() + 1 : progress_.max()));
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(progress_.position()), 0);
}

}  // namespace window::win32
