#include "common/QVSplashFrm2.h"

#include <memory>

#include "common/QVApp.h"
#include "common/QVCodePage.h"
#include "common/QVStrings.h"
#include "resource.h"
#include "ui/Application.h"
#include "ui/Form.h"

namespace {
std::unique_ptr<TSplashForm> g_splash;
constexpr int kWidth = 500;
constexpr int kHeight = 400;
}  // namespace

TSplashForm::TSplashForm(const TQVApplication& record, HBITMAP picture, COLORREF textColor)
    : picture_(picture), textColor_(textColor) {
    CreateForm("", WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
    // The window takes the size of its picture.
    BITMAP info{};
    if (picture_ && GetObjectA(picture_, sizeof info, &info)) {
        pictureSize_ = SIZE{info.bmWidth, info.bmHeight};
    } else {
        pictureSize_ = SIZE{kWidth, kHeight};
    }
    SetClientSize(pictureSize_.cx, pictureSize_.cy);
    CenterOnScreen();
    versionFont_ = MakeFont(8, false);
    smallFont_ = MakeFont(7, false);
    VersionText = qv::LoadFmt(IDS_VERSION_LINE, qv::LoadEncipheredStr(IDS_VERSION_WORD), record.Version);
    LegalText = record.LegalNotice;
    NoticeText = qv::LoadEncipheredStr(IDS_SPLASH_NOTICE);
}

void TSplashForm::Paint(HDC dc) {
    RECT client{};
    GetClientRect(Handle(), &client);
    if (picture_) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, picture_);
        SetStretchBltMode(dc, HALFTONE);
        StretchBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, pictureSize_.cx, pictureSize_.cy, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    } else {
        HBRUSH silver = CreateSolidBrush(RGB(192, 192, 192));
        FillRect(dc, &client, silver);
        DeleteObject(silver);
    }
    SetBkMode(dc, TRANSPARENT);
    auto draw = [&](const std::string& text, int left, int top, int width, int height, HFONT font, COLORREF color,
                    UINT flags) {
        RECT r{Scale(left), Scale(top), Scale(left + width), Scale(top + height)};
        HGDIOBJ old = SelectObject(dc, font);
        SetTextColor(dc, color);
        ui::DrawTextAnsi(dc, text, &r, flags | DT_NOPREFIX);
        SelectObject(dc, old);
    };
    draw(LegalText, 16, 280, 457, 14, smallFont_, textColor_, DT_SINGLELINE);
    draw(NoticeText, 16, 296, 457, 30, smallFont_, textColor_, DT_WORDBREAK);
    draw(VersionText, 16, 328, 225, 14, versionFont_, GetSysColor(COLOR_WINDOWTEXT), DT_SINGLELINE);
}

LRESULT TSplashForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(Handle(), &ps);
        Paint(dc);
        EndPaint(Handle(), &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return TRUE;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    default:
        return ui::TForm::WndProc(msg, wParam, lParam);
    }
}

void ShowSplash(const TQVApplication& record, HBITMAP picture, COLORREF textColor) {
    g_splash = std::make_unique<TSplashForm>(record, picture, textColor);
    ShowWindow(g_splash->Handle(), SW_SHOWNOACTIVATE);
    UpdateWindow(g_splash->Handle());
}

void HideSplash() {
    g_splash.reset();
    ui::Application.ProcessMessages();
}

TSplashForm* SplashForm() { return g_splash.get(); }
