#include "ui/Application.h"

#include <commctrl.h>

#include "ui/Form.h"

namespace ui {

TApplication Application;

void TApplication::Initialize() {
    instance_ = GetModuleHandleA(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi_ <= 0) dpi_ = 96;
}

HWND TApplication::MainFormHandle() const { return mainForm_ ? mainForm_->Handle() : nullptr; }

HWND TApplication::Handle() {
    if (!handle_) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = instance_;
        wc.lpszClassName = "TQVApplication";
        RegisterClassA(&wc);
        handle_ = CreateWindowExA(WS_EX_TOOLWINDOW, "TQVApplication", Title.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, instance_, nullptr);
    }
    return handle_;
}

int TApplication::Scale(int pixels96) const { return MulDiv(pixels96, dpi_, 96); }

void TApplication::HandleMessage(MSG& msg) {
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (TForm* form = TForm::FromHandle(root)) {
        bool consumed = false;
        try {
            consumed = form->PreTranslateMessage(msg);
        } catch (...) {
            HandleException(std::current_exception());
            consumed = true;
        }
        if (consumed) return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void TApplication::Idle() {
    if (!OnIdle) return;
    try {
        OnIdle();
    } catch (...) {
        HandleException(std::current_exception());
    }
}

void TApplication::SetHint(const std::string& hint) {
    if (hint == hint_) return;
    hint_ = hint;
    if (OnHint) OnHint(hint_);
}

int TApplication::Run() {
    MSG msg;
    for (;;) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) Idle();
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
        HandleMessage(msg);
    }
    terminated_ = true;
    return static_cast<int>(msg.wParam);
}

void TApplication::Terminate(int exitCode) {
    terminated_ = true;
    PostQuitMessage(exitCode);
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        HandleMessage(msg);
    }
}

void TApplication::SetScreenCursor(TCursor cursor) {
    cursor_ = cursor;
    SetCursor(ScreenCursorHandle());
}

HCURSOR TApplication::ScreenCursorHandle() const {
    return LoadCursorA(nullptr, cursor_ == TCursor::HourGlass ? MAKEINTRESOURCEA(32514)   // IDC_WAIT
                                                              : MAKEINTRESOURCEA(32512));  // IDC_ARROW
}

void TApplication::HandleException(std::exception_ptr error) {
    if (OnException) {
        OnException(error);
        return;
    }
    // Without a handler the error cannot be shown; the application ends.
    Terminate(3);
}

}  // namespace ui
