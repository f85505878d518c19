#include "support/TextFit.h"

#include <commctrl.h>

#include <cctype>

#include "common/QVCodePage.h"

namespace testenv {

namespace {

std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::string TextOf(HWND hwnd) {
    char text[1024] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

int DpiScale(HWND hwnd, int pixels96) {
    HDC dc = GetDC(hwnd);
    int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(hwnd, dc);
    return MulDiv(pixels96, dpi, 96);
}

// The text's extent in the control's own font: one line when wrapWidth is 0,
// else wrapped at that width.
SIZE Measure(HWND control, const std::string& text, UINT flags, int wrapWidth) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    RECT r{0, 0, wrapWidth, 0};
    UINT how = DT_CALCRECT | DT_EXPANDTABS | flags | (wrapWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE);
    // Wide, as the controls draw it: DrawTextA reads the font's code page.
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r, how);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

struct Walk {
    std::vector<std::string> misfits;
};

void Report(Walk& walk, HWND control, const std::string& what, SIZE needed, SIZE given) {
    walk.misfits.push_back("'" + what + "' needs " + std::to_string(needed.cx) + "x" + std::to_string(needed.cy) +
                           ", has " + std::to_string(given.cx) + "x" + std::to_string(given.cy) + " (" +
                           ClassOf(control) + ")");
}

void CheckStatic(Walk& walk, HWND control, LONG style, SIZE client) {
    LONG type = style & SS_TYPEMASK;
    bool wraps = type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT;
    bool oneLine = type == SS_LEFTNOWORDWRAP || type == SS_SIMPLE;
    if (!wraps && !oneLine) return;  // pictures, frames, owner drawing
    std::string text = TextOf(control);
    if (text.empty()) return;
    UINT flags = (style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
    SIZE needed = Measure(control, text, flags, wraps ? client.cx : 0);
    if (needed.cx > client.cx || needed.cy > client.cy) Report(walk, control, text, needed, client);
}

void CheckButton(Walk& walk, HWND control, LONG style, SIZE client) {
    std::string text = TextOf(control);
    if (text.empty()) return;
    LONG type = style & BS_TYPEMASK;
    SIZE line = Measure(control, text, 0, 0);
    SIZE needed = line;
    switch (type) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
        // Frame and focus rectangle on each side.
        needed.cx += 2 * DpiScale(control, 5);
        needed.cy += 2 * DpiScale(control, 3);
        break;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        // The glyph, the gap before the text, and the focus rectangle.
        needed.cx += DpiScale(control, 13) + DpiScale(control, 4) + DpiScale(control, 2);
        break;
    case BS_GROUPBOX:
        // The frame's corner before the caption and after it.
        needed.cx += 2 * DpiScale(control, 8);
        needed.cy = 0;
        break;
    default:
        return;
    }
    if (needed.cx > client.cx || needed.cy > client.cy) Report(walk, control, text, needed, client);
}

// The caption of a tab control's tab.
std::string TabText(HWND control, int index) {
    char text[256] = {};
    TCITEMA info{};
    info.mask = TCIF_TEXT;
    info.pszText = text;
    info.cchTextMax = sizeof text;
    SendMessageA(control, TCM_GETITEMA, index, reinterpret_cast<LPARAM>(&info));
    return text;
}

void CheckTabs(Walk& walk, HWND control, SIZE client) {
    int count = TabCtrl_GetItemCount(control);
    for (int i = 0; i < count; ++i) {
        RECT item{};
        TabCtrl_GetItemRect(control, i, &item);
        if (item.right > client.cx) {
            Report(walk, control, "tab " + TabText(control, i), SIZE{item.right, item.bottom}, client);
        }
    }
    // The scroll arrows a tab control shows when its tabs do not fit.
    for (HWND child = GetWindow(control, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (lstrcmpiA(ClassOf(child).c_str(), UPDOWN_CLASSA) == 0 && IsWindowVisible(child)) {
            walk.misfits.push_back("tab control shows scroll arrows");
        }
    }
}

BOOL CALLBACK CheckOne(HWND control, LPARAM param) {
    auto& walk = *reinterpret_cast<Walk*>(param);
    if (!IsWindowVisible(control)) return TRUE;
    RECT r{};
    GetClientRect(control, &r);
    SIZE client{r.right, r.bottom};
    LONG style = GetWindowLongA(control, GWL_STYLE);
    std::string cls = ClassOf(control);
    if (lstrcmpiA(cls.c_str(), "Static") == 0) {
        CheckStatic(walk, control, style, client);
    } else if (lstrcmpiA(cls.c_str(), "Button") == 0) {
        CheckButton(walk, control, style, client);
    } else if (lstrcmpiA(cls.c_str(), WC_TABCONTROLA) == 0) {
        CheckTabs(walk, control, client);
    }
    return TRUE;
}

BOOL CALLBACK CollectMnemonic(HWND control, LPARAM param) {
    auto& found = *reinterpret_cast<std::vector<std::pair<char, std::string>>*>(param);
    if (!IsWindowVisible(control) || !IsWindowEnabled(control)) return TRUE;
    std::string cls = ClassOf(control);
    LONG style = GetWindowLongA(control, GWL_STYLE);
    if (lstrcmpiA(cls.c_str(), "Static") == 0 && (style & SS_NOPREFIX)) return TRUE;
    std::vector<std::string> texts;
    if (lstrcmpiA(cls.c_str(), WC_TABCONTROLA) == 0) {
        for (int i = 0; i < TabCtrl_GetItemCount(control); ++i) {
            texts.push_back(TabText(control, i));
        }
    } else if (lstrcmpiA(cls.c_str(), "Static") == 0 || lstrcmpiA(cls.c_str(), "Button") == 0) {
        texts.push_back(TextOf(control));
    }
    for (const std::string& text : texts) {
        for (size_t i = 0; i + 1 < text.size(); ++i) {
            if (text[i] != '&') continue;
            if (text[i + 1] != '&') {
                found.emplace_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1]))), text);
            }
            ++i;
        }
    }
    return TRUE;
}

}  // namespace

std::vector<std::string> TextMisfits(HWND window) {
    Walk walk;
    EnumChildWindows(window, CheckOne, reinterpret_cast<LPARAM>(&walk));
    return walk.misfits;
}

std::string DescribeMisfits(HWND window) {
    std::string all;
    for (const std::string& misfit : TextMisfits(window)) all += misfit + "\n";
    return all;
}

std::vector<std::pair<char, std::string>> Mnemonics(HWND window) {
    std::vector<std::pair<char, std::string>> found;
    EnumChildWindows(window, CollectMnemonic, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace testenv
