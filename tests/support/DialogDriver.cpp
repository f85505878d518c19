#include "support/DialogDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "ui/Application.h"

namespace testenv {

namespace {

struct DriveState {
    std::vector<DialogStep> steps;
    std::vector<HWND> ignored;  // windows already shown before the dialog
    size_t next = 0;
    DWORD started = 0;
    DWORD lastStep = 0;
    bool timedOut = false;
};
DriveState* g_drive = nullptr;
bool g_repeat = false;
int g_repeats = 0;

BOOL CALLBACK CollectForm(HWND hwnd, LPARAM param) {
    char cls[32] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    // The program's own forms and the system's dialogs (file dialogs).
    if ((lstrcmpA(cls, "TQVForm") == 0 || lstrcmpA(cls, "#32770") == 0) && IsWindowVisible(hwnd) &&
        IsWindowEnabled(hwnd)) {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    }
    return TRUE;
}

std::vector<HWND> ThreadForms() {
    std::vector<HWND> forms;
    EnumThreadWindows(GetCurrentThreadId(), CollectForm, reinterpret_cast<LPARAM>(&forms));
    return forms;
}

void CALLBACK DriveTick(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_drive) return;
    DriveState& state = *g_drive;
    std::vector<HWND> forms = ThreadForms();
    forms.erase(std::remove_if(forms.begin(), forms.end(),
                               [&](HWND hwnd) {
                                   return std::find(state.ignored.begin(), state.ignored.end(), hwnd) !=
                                          state.ignored.end();
                               }),
                forms.end());
    DWORD now = GetTickCount();
    if (forms.empty()) {
        if (state.next == 0 && now - state.started > 5000) {
            state.timedOut = true;
            ADD_FAILURE() << "no dialog appeared";
            g_drive = nullptr;
        }
        return;
    }
    HWND dialog = GetActiveWindow();
    if (std::find(forms.begin(), forms.end(), dialog) == forms.end()) dialog = forms.front();
    if (state.next < state.steps.size()) {
        state.lastStep = now;
        size_t current = state.next++;
        g_repeat = false;
        state.steps[current](dialog);
        if (g_repeat && g_drive == &state) {
            // Run the same step again at the next tick, for up to 10 s.
            if (++g_repeats < 400) {
                state.next = current;
            } else {
                ADD_FAILURE() << "a step waited in vain";
            }
        } else {
            g_repeats = 0;
        }
    } else if (now - state.lastStep > 5000) {
        state.timedOut = true;
        ADD_FAILURE() << "the dialog stayed open after the last step";
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        state.lastStep = now;
    }
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Children(HWND dialog) {
    std::vector<HWND> children;
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::string ClassOf(HWND hwnd) {
    char cls[32] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    return cls;
}

int Unscale(int pixels) { return MulDiv(pixels, 96, ui::Application.Dpi()); }

}  // namespace

void DriveDialog(std::vector<DialogStep> steps, const std::function<void()>& show) {
    DriveState state;
    state.steps = std::move(steps);
    state.started = GetTickCount();
    state.ignored = ThreadForms();
    g_drive = &state;
    UINT_PTR timer = SetTimer(nullptr, 0, 25, DriveTick);
    try {
        show();
    } catch (...) {
        KillTimer(nullptr, timer);
        g_drive = nullptr;
        throw;
    }
    KillTimer(nullptr, timer);
    g_drive = nullptr;
    EXPECT_EQ(state.next, state.steps.size()) << "the dialog closed before every step ran";
}

void RepeatStep() { g_repeat = true; }

DialogStep WaitUntil(std::function<bool()> condition) {
    return [condition](HWND) {
        if (!condition()) RepeatStep();
    };
}

int VisibleForms() { return static_cast<int>(ThreadForms().size()); }

std::string WindowText(HWND hwnd) {
    char buffer[4096] = {};
    GetWindowTextA(hwnd, buffer, sizeof buffer);
    return buffer;
}

std::vector<HWND> VisibleButtons(HWND dialog) {
    std::vector<HWND> buttons;
    for (HWND child : Children(dialog)) {
        if (ClassOf(child) == "Button" || ClassOf(child) == "BUTTON") {
            if (IsWindowVisible(child)) buttons.push_back(child);
        }
    }
    std::sort(buttons.begin(), buttons.end(), [&](HWND a, HWND b) {
        return ChildBounds(dialog, a).left < ChildBounds(dialog, b).left;
    });
    return buttons;
}

HWND ChildWithText(HWND dialog, const std::string& text) {
    for (HWND child : Children(dialog)) {
        if (WindowText(child) == text) return child;
    }
    return nullptr;
}

std::vector<HWND> VisibleIcons(HWND dialog) {
    std::vector<HWND> icons;
    for (HWND child : Children(dialog)) {
        LONG style = GetWindowLongA(child, GWL_STYLE);
        if (lstrcmpiA(ClassOf(child).c_str(), "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(child)) {
            icons.push_back(child);
        }
    }
    return icons;
}

RECT ChildBounds(HWND dialog, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return RECT{Unscale(r.left), Unscale(r.top), Unscale(r.right), Unscale(r.bottom)};
}

SIZE ClientSize96(HWND dialog) {
    RECT r{};
    GetClientRect(dialog, &r);
    return SIZE{Unscale(r.right), Unscale(r.bottom)};
}

int OuterHeight96(HWND dialog) {
    RECT r{};
    GetWindowRect(dialog, &r);
    return Unscale(r.bottom - r.top);
}

std::string FontFaceOf(HWND control) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    LOGFONTA lf{};
    if (!font || !GetObjectA(font, sizeof lf, &lf)) return "";
    return lf.lfFaceName;
}

void PressKey(WORD vk) {
    HWND focus = GetFocus();
    UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(focus, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(focus, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000);
}

void ReleaseKey(WORD vk) {
    UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(GetFocus(), WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000);
}

void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void ChooseFile(HWND dialog, const std::string& path) {
    // The file name box of the system's file dialogs (combo box or edit).
    if (GetDlgItem(dialog, 0x47C)) {
        SetDlgItemTextA(dialog, 0x47C, path.c_str());
    } else {
        SetDlgItemTextA(dialog, 0x480, path.c_str());
    }
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

void CancelDialog(HWND dialog) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}

namespace {

void RepaintAndSettle(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    // Waiting in the message wait (without taking any message) lets the
    // display driver put what was painted on the screen before it is read.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 150, 0);
}

}  // namespace

std::vector<COLORREF> ScreenPixels(HWND window, const std::vector<POINT>& points) {
    RepaintAndSettle(window);
    HDC screen = GetDC(nullptr);
    std::vector<COLORREF> colours;
    for (POINT at : points) {
        ClientToScreen(window, &at);
        colours.push_back(GetPixel(screen, at.x, at.y));
    }
    ReleaseDC(nullptr, screen);
    return colours;
}

void SaveShot(HWND window, const std::string& name) {
    char folder[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("CORVANTIS_SHOTS", folder, MAX_PATH)) return;
    RepaintAndSettle(window);
    RECT r{};
    GetWindowRect(window, &r);
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    int stride = ((width * 3 + 3) / 4) * 4;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * height;
    std::ofstream out(std::string(folder) + "\\" + name + ".bmp", std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), stride * height);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

}  // namespace testenv
