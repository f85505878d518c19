#include "ui/ToolBars.h"

#include <algorithm>

#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/ImageSet.h"

namespace ui {

namespace {

constexpr UINT WM_TRACK_MENU = WM_APP + 0x51;  // wParam: menu index, lParam: from the keyboard
constexpr int kChevronId = 0x7C01;
constexpr int kChevronWidth96 = 14;

// The one menu bar whose menu is open (the hook has no other context).
TMenuBar* g_tracking = nullptr;

HWND CreateToolbar(HWND parent, DWORD style) {
    HWND toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                                   WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | CCS_NORESIZE |
                                       CCS_NOPARENTALIGN | CCS_NODIVIDER | style,
                                   0, 0, 100, 24, parent, reinterpret_cast<HMENU>(1), Application.Instance(), nullptr);
    SendMessageA(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    return toolbar;
}

// The union of the toolbar's item rectangles.
SIZE ItemExtent(HWND toolbar) {
    int count = static_cast<int>(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0));
    RECT all{0, 0, 0, 0};
    for (int i = 0; i < count; ++i) {
        RECT r{};
        if (SendMessageA(toolbar, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r))) UnionRect(&all, &all, &r);
    }
    return SIZE{all.right, all.bottom};
}

// Replaces the toolbar's buttons. Adding buttons is what makes every
// toolbar lay itself out again, so a change of orientation (every button
// ending a line, or none) is made by adding them anew.
void ReplaceButtons(HWND toolbar, std::vector<TBBUTTON> buttons) {
    while (SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0) > 0) SendMessageA(toolbar, TB_DELETEBUTTON, 0, 0);
    SendMessageA(toolbar, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    SendMessageA(toolbar, TB_AUTOSIZE, 0, 0);
}

// Answers a tooltip's request for its text, in whichever character set it
// asks.
bool AnswerTip(NMHDR* header, const std::string& text) {
    if (header->code == TTN_GETDISPINFOA) {
        auto* info = reinterpret_cast<NMTTDISPINFOA*>(header);
        lstrcpynA(info->szText, text.c_str(), sizeof info->szText);
        info->lpszText = info->szText;
        return true;
    }
    if (header->code == TTN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(header);
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, info->szText, sizeof info->szText / sizeof(WCHAR));
        info->szText[sizeof info->szText / sizeof(WCHAR) - 1] = 0;
        info->lpszText = info->szText;
        return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------- TActionToolBar

TActionToolBar::TActionToolBar(TDockSite& site, const std::string& caption, TActionList& actions,
                               const TImageSet& images, const std::vector<TAction*>& buttons)
    : TDockBar(site, caption), actions_(actions), chevronMenus_(actions, &images), buttons_(buttons) {
    toolbar_ = CreateToolbar(Handle(), TBSTYLE_TOOLTIPS);
    chevron_ =
        CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, 0, 0, 0, 0, Handle(),
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kChevronId)), Application.Instance(), nullptr);
    SetWindowSubclass(chevron_, ChevronSubclass, 1, reinterpret_cast<DWORD_PTR>(this));
    chevronMenus_.OnHint = [this](const std::string& hint) {
        if (OnHint) OnHint(hint);
    };
    // The tooltip window is a topmost pop-up; owned by the form it would
    // stand in the form's way when the form itself is put on top, so it
    // belongs to no window.
    if (HWND tips = reinterpret_cast<HWND>(SendMessageA(toolbar_, TB_GETTOOLTIPS, 0, 0))) {
        SetWindowLongPtrA(tips, GWLP_HWNDPARENT, 0);
    }
    SendMessageA(toolbar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(images.Size(), images.Size()));
    SendMessageA(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images.Normal()));
    SendMessageA(toolbar_, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(images.Disabled()));
    ReplaceButtons(toolbar_, Buttons(0));
    actions_.AddObserver([this](TAction& action) { Follow(action); });
}

std::vector<TBBUTTON> TActionToolBar::Buttons(int perRow) const {
    // Standing (perRow > 0): separators are left out and a line ends after
    // every `perRow` buttons, so that a long bar takes several columns
    // rather than running past the window's edge.
    std::vector<TBBUTTON> list;
    int inRow = 0;
    for (TAction* action : buttons_) {
        TBBUTTON button{};
        if (action && perRow > 0 && ++inRow == perRow) {
            button.fsState = TBSTATE_WRAP;
            inRow = 0;
        }
        if (action) {
            button.iBitmap = action->ImageIndex();
            button.idCommand = action->Id();
            button.fsState |= static_cast<BYTE>((action->Enabled() ? TBSTATE_ENABLED : 0) |
                                                (action->Checked() ? TBSTATE_CHECKED : 0));
            button.fsStyle = BTNS_BUTTON;
        } else {
            button.fsStyle = BTNS_SEP;
            button.fsState = perRow > 0 ? TBSTATE_HIDDEN : 0;
            button.iBitmap = Application.Scale(6);
        }
        button.iString = -1;
        list.push_back(button);
    }
    return list;
}

void TActionToolBar::Follow(TAction& action) {
    if (SendMessageA(toolbar_, TB_COMMANDTOINDEX, action.Id(), 0) < 0) return;
    SendMessageA(toolbar_, TB_ENABLEBUTTON, action.Id(), MAKELPARAM(action.Enabled() ? TRUE : FALSE, 0));
    SendMessageA(toolbar_, TB_CHECKBUTTON, action.Id(), MAKELPARAM(action.Checked() ? TRUE : FALSE, 0));
    SendMessageA(toolbar_, TB_CHANGEBITMAP, action.Id(), MAKELPARAM(action.ImageIndex(), 0));
}

SIZE TActionToolBar::MeasureContent(bool vertical, int available) {
    int perRow = 0;
    if (vertical) {
        int buttons = static_cast<int>(std::count_if(buttons_.begin(), buttons_.end(), [](TAction* a) { return a; }));
        int height = std::max(1, static_cast<int>(HIWORD(SendMessageA(toolbar_, TB_GETBUTTONSIZE, 0, 0))));
        int rows = std::max(1, available / height);
        perRow = std::max(1, (buttons + rows - 1) / rows);
    }
    if (perRow != perRow_) {
        perRow_ = perRow;
        ReplaceButtons(toolbar_, Buttons(perRow));
    }
    SIZE full = ItemExtent(toolbar_);
    chevronShown_ = !vertical && full.cx > available;
    shownWidth_ = full.cx;
    if (!chevronShown_) return full;
    // Only whole buttons are shown, and no separator ends the shown part.
    int room = available - Application.Scale(kChevronWidth96);
    shownWidth_ = 0;
    for (size_t i = 0; i < buttons_.size(); ++i) {
        RECT r{};
        SendMessageA(toolbar_, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
        if (r.right > room) break;
        if (buttons_[i]) shownWidth_ = r.right;
    }
    return SIZE{shownWidth_ + Application.Scale(kChevronWidth96), full.cy};
}

int TActionToolBar::MinimumContentLength(bool vertical) {
    // The first button and the chevron lying, one button standing.
    LRESULT size = SendMessageA(toolbar_, TB_GETBUTTONSIZE, 0, 0);
    return vertical ? HIWORD(size) : LOWORD(size) + Application.Scale(kChevronWidth96);
}

void TActionToolBar::PlaceContent(const RECT& area) {
    bool chevron = chevronShown_ && !Vertical();
    int height = area.bottom - area.top;
    if (!chevron) {
        if (GetFocus() == chevron_) SetFocus(GetNextDlgTabItem(Site().Form().Handle(), chevron_, FALSE));
        ShowWindow(chevron_, SW_HIDE);
        TDockBar::PlaceContent(area);
        return;
    }
    SetWindowPos(toolbar_, nullptr, area.left, area.top, shownWidth_, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(chevron_, nullptr, area.left + shownWidth_, area.top, Application.Scale(kChevronWidth96), height,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

std::vector<TAction*> TActionToolBar::HiddenActions() const {
    std::vector<TAction*> hidden;
    if (!chevronShown_ || Vertical()) return hidden;
    for (size_t i = 0; i < buttons_.size(); ++i) {
        RECT r{};
        SendMessageA(toolbar_, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
        if (buttons_[i] && r.right > shownWidth_) hidden.push_back(buttons_[i]);
    }
    return hidden;
}

void TActionToolBar::ShowChevronMenu(bool fromKeyboard) {
    std::vector<TMenuEntry> entries;
    bool separator = false;
    for (size_t i = 0; i < buttons_.size(); ++i) {
        RECT r{};
        SendMessageA(toolbar_, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
        if (r.right <= shownWidth_) continue;
        // The bar's groups stay apart, with no separator at either end.
        if (!buttons_[i]) {
            separator = !entries.empty();
            continue;
        }
        if (separator) entries.push_back(TMenuEntry{});
        separator = false;
        entries.push_back(TMenuEntry{buttons_[i], nullptr});
    }
    if (entries.empty()) return;
    chevronMenus_.Prepare();
    HMENU menu = chevronMenus_.Build(entries);
    RECT r{};
    GetWindowRect(chevron_, &r);
    SendMessageA(chevron_, BM_SETSTATE, TRUE, 0);
    if (fromKeyboard) PostMessageA(Handle(), WM_KEYDOWN, VK_DOWN, 0);
    TPMPARAMS exclude{sizeof(TPMPARAMS), r};
    UINT chosen = static_cast<UINT>(
        TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_LEFTBUTTON | TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_VERTICAL, r.right,
                         r.bottom, Handle(), &exclude));
    SendMessageA(chevron_, BM_SETSTATE, FALSE, 0);
    DestroyMenu(menu);
    if (OnHint) OnHint(std::string());
    if (chosen) chevronMenus_.RunCommand(chosen);
}

void TActionToolBar::PaintChevron(const DRAWITEMSTRUCT& draw) {
    RECT r = draw.rcItem;
    HDC dc = draw.hDC;
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    bool pressed = (draw.itemState & ODS_SELECTED) != 0;
    if (pressed) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
    // Two small arrows pointing on, as ">>", a stroke of two pixels.
    int s = std::max(2, Application.Scale(3));
    int gap = std::max(3, Application.Scale(4));
    int x = (r.left + r.right - gap - s) / 2 + (pressed ? 1 : 0);
    int y = r.top + Application.Scale(5) + s + (pressed ? 1 : 0);
    HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(IsWindowEnabled(chevron_) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    HGDIOBJ old = SelectObject(dc, pen);
    for (int arrow = 0; arrow < 2; ++arrow) {
        for (int stroke = 0; stroke < 2; ++stroke) {
            int left = x + arrow * gap + stroke;
            MoveToEx(dc, left, y - s, nullptr);
            LineTo(dc, left + s, y);
            LineTo(dc, left - 1, y + s + 1);
        }
    }
    SelectObject(dc, old);
    DeleteObject(pen);
    if ((draw.itemState & ODS_FOCUS) && !(draw.itemState & ODS_NOFOCUSRECT)) {
        RECT focus = r;
        InflateRect(&focus, -2, -2);
        DrawFocusRect(dc, &focus);
    }
}

LRESULT CALLBACK TActionToolBar::ChevronSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                 DWORD_PTR data) {
    auto* bar = reinterpret_cast<TActionToolBar*>(data);
    if (msg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_DOWN || wParam == VK_SPACE)) {
        // The key's character would reach the menu first and close it.
        MSG pending;
        while (PeekMessageA(&pending, hwnd, WM_CHAR, WM_CHAR, PM_REMOVE)) {
        }
        try {
            bar->ShowChevronMenu(true);
        } catch (...) {
            Application.HandleException(std::current_exception());
        }
        return 0;
    }
    if (msg == WM_KEYUP && wParam == VK_SPACE) return 0;
    if (msg == WM_GETDLGCODE) return DLGC_BUTTON | DLGC_WANTARROWS;
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

bool TActionToolBar::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (msg == WM_COMMAND && reinterpret_cast<HWND>(lParam) == chevron_) {
        if (HIWORD(wParam) == BN_CLICKED) ShowChevronMenu(false);
        *result = 0;
        return true;
    }
    if (msg == WM_DRAWITEM && wParam == static_cast<WPARAM>(kChevronId)) {
        PaintChevron(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
        *result = TRUE;
        return true;
    }
    // The pictures and hints of the chevron's menu.
    if (chevronMenus_.HandleMessage(msg, wParam, lParam, result)) return true;
    if (msg == WM_COMMAND && reinterpret_cast<HWND>(lParam) == toolbar_) {
        if (TAction* action = actions_.ById(LOWORD(wParam))) action->Execute();
        *result = 0;
        return true;
    }
    if (msg != WM_NOTIFY) return false;
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header->code == TTN_GETDISPINFOA || header->code == TTN_GETDISPINFOW) {
        TAction* action = actions_.ById(static_cast<int>(header->idFrom));
        if (!action) return false;
        tipText_ = StripMnemonic(action->Caption);
        if (tipText_.size() > 3 && tipText_.compare(tipText_.size() - 3, 3, "...") == 0) tipText_.resize(tipText_.size() - 3);
        std::string shortCut = ShortCutText(action->ShortCut);
        if (!shortCut.empty()) tipText_ += " (" + shortCut + ")";
        *result = 0;
        return AnswerTip(header, tipText_);
    }
    if (header->hwndFrom == toolbar_ && header->code == TBN_HOTITEMCHANGE) {
        auto* hot = reinterpret_cast<NMTBHOTITEM*>(header);
        TAction* action = (hot->dwFlags & HICF_LEAVING) ? nullptr : actions_.ById(hot->idNew);
        if (OnHint) OnHint(action ? action->Hint : std::string());
        *result = 0;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- TMenuBar

TMenuBar::TMenuBar(TDockSite& site, const std::string& caption, TActionMenus& menus, std::vector<TMenu> items)
    : TDockBar(site, caption), menus_(menus), items_(std::move(items)) {
    FullWidth = true;
    toolbar_ = CreateToolbar(Handle(), TBSTYLE_LIST);
    SendMessageA(toolbar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(0, 0));
    SendMessageA(toolbar_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    ReplaceButtons(toolbar_, Buttons());
    SetWindowSubclass(toolbar_, ToolbarSubclass, 1, reinterpret_cast<DWORD_PTR>(this));
}

TMenuBar::~TMenuBar() {
    if (hook_) UnhookWindowsHookEx(hook_);
    if (g_tracking == this) g_tracking = nullptr;
    RemoveWindowSubclass(toolbar_, ToolbarSubclass, 1);
}

std::vector<TBBUTTON> TMenuBar::Buttons() const {
    std::vector<TBBUTTON> list;
    for (const TMenu& menu : items_) {
        TBBUTTON button{};
        button.iBitmap = I_IMAGENONE;
        button.idCommand = menu.Action->Id();
        // Standing, each menu's caption takes a line of its own.
        bool endsLine = wrapAfter_.size() > list.size() && wrapAfter_[list.size()];
        button.fsState = static_cast<BYTE>(TBSTATE_ENABLED | (endsLine ? TBSTATE_WRAP : 0));
        button.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_SHOWTEXT;
        button.iString = reinterpret_cast<INT_PTR>(menu.Action->Caption.c_str());
        list.push_back(button);
    }
    return list;
}

void TMenuBar::BreakLines(bool vertical, int available) {
    // The captions' widths on one line, measured once.
    if (widths_.empty()) {
        for (int i = 0; i < MenuCount(); ++i) {
            RECT r{};
            SendMessageA(toolbar_, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
            widths_.push_back(r.right - r.left);
        }
    }
    // Standing, each caption ends a line; lying, a caption that would run
    // past the length starts a new one. The bar breaks its lines itself
    // (a wrapping toolbar measures against its parent's width, not its own).
    std::vector<bool> wraps(widths_.size(), vertical);
    if (!vertical) {
        int x = 0;
        for (size_t i = 0; i < widths_.size(); ++i) {
            if (x > 0 && x + widths_[i] > available) {
                wraps[i - 1] = true;
                x = 0;
            }
            x += widths_[i];
        }
    }
    if (wraps == wrapAfter_) return;
    wrapAfter_ = wraps;
    ReplaceButtons(toolbar_, Buttons());
}

SIZE TMenuBar::MeasureContent(bool vertical, int available) {
    BreakLines(vertical, available);
    return ItemExtent(toolbar_);
}

int TMenuBar::MinimumContentLength(bool vertical) {
    if (vertical) return TDockBar::MinimumContentLength(true);
    // Lying, the captions wrap: the widest one is the least.
    int widest = 0;
    for (int width : widths_) widest = std::max(widest, width);
    return widest;
}

int TMenuBar::FindMnemonic(char letter) const {
    char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    for (size_t i = 0; i < items_.size(); ++i) {
        if (wanted && MnemonicOf(items_[i].Action->Caption) == wanted) return static_cast<int>(i);
    }
    return -1;
}

int TMenuBar::HotItem() const { return static_cast<int>(SendMessageA(toolbar_, TB_GETHOTITEM, 0, 0)); }

int TMenuBar::ButtonAt(POINT screen) const {
    POINT p = screen;
    ScreenToClient(toolbar_, &p);
    RECT client{};
    GetClientRect(toolbar_, &client);
    if (!PtInRect(&client, p)) return -1;
    int index = static_cast<int>(SendMessageA(toolbar_, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&p)));
    return index >= 0 && index < MenuCount() ? index : -1;
}

void TMenuBar::EnterMenuMode(int index) {
    if (items_.empty()) return;
    menuMode_ = true;
    SendMessageA(toolbar_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
    SendMessageA(toolbar_, TB_SETHOTITEM, static_cast<WPARAM>(std::clamp(index, 0, MenuCount() - 1)), 0);
    if (OnHint) OnHint(items_[static_cast<size_t>(HotItem() < 0 ? 0 : HotItem())].Action->Hint);
}

void TMenuBar::LeaveMenuMode() {
    if (!menuMode_) return;
    menuMode_ = false;
    SendMessageA(toolbar_, TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
    if (OnHint) OnHint(std::string());
}

void TMenuBar::MenuSelect(HMENU menu, UINT flags) {
    if (openMenu_ < 0) return;
    if (flags == 0xFFFF && !menu) return;
    currentMenu_ = menu;
    currentIsPopup_ = (flags & MF_POPUP) != 0;
}

void TMenuBar::TrackMenu(int index, bool fromKeyboard) {
    if (openMenu_ >= 0 || index < 0 || index >= MenuCount()) return;
    HWND owner = Site().Form().Handle();
    nextMenu_ = index;
    nextFromKeyboard_ = fromKeyboard;
    UINT chosen = 0;
    bool returnToBar = false;
    while (nextMenu_ >= 0 && !chosen) {
        int current = nextMenu_;
        bool keyboard = nextFromKeyboard_;
        nextMenu_ = -1;
        backToBar_ = false;
        menuMode_ = false;

        // The actions' states are brought up to date before the menu shows.
        menus_.Prepare();
        HMENU menu = menus_.Build(items_[static_cast<size_t>(current)].Entries);
        rootMenu_ = currentMenu_ = menu;
        currentIsPopup_ = false;
        openMenu_ = current;

        int id = items_[static_cast<size_t>(current)].Action->Id();
        RECT r{};
        SendMessageA(toolbar_, TB_GETITEMRECT, current, reinterpret_cast<LPARAM>(&r));
        MapWindowPoints(toolbar_, nullptr, reinterpret_cast<POINT*>(&r), 2);
        SendMessageA(toolbar_, TB_SETHOTITEM, static_cast<WPARAM>(current), 0);
        SendMessageA(toolbar_, TB_PRESSBUTTON, id, MAKELPARAM(TRUE, 0));
        if (OnHint) OnHint(items_[static_cast<size_t>(current)].Action->Hint);
        // Opened from the keyboard, the first item is selected.
        if (keyboard) PostMessageA(owner, WM_KEYDOWN, VK_DOWN, 0);

        g_tracking = this;
        hook_ = SetWindowsHookExA(WH_MSGFILTER, MessageHook, nullptr, GetCurrentThreadId());
        TPMPARAMS exclude{sizeof(TPMPARAMS), r};
        bool vertical = Vertical();
        UINT flags = TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON |
                     (vertical ? TPM_HORIZONTAL : TPM_VERTICAL);
        chosen = static_cast<UINT>(
            TrackPopupMenuEx(menu, flags, vertical ? r.right : r.left, vertical ? r.top : r.bottom, owner, &exclude));
        if (hook_) UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
        g_tracking = nullptr;

        SendMessageA(toolbar_, TB_PRESSBUTTON, id, MAKELPARAM(FALSE, 0));
        SendMessageA(toolbar_, TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
        DestroyMenu(menu);
        rootMenu_ = currentMenu_ = nullptr;
        openMenu_ = -1;
        returnToBar = backToBar_ && !chosen && nextMenu_ < 0;
        if (returnToBar) index = current;
    }
    if (OnHint) OnHint(std::string());
    if (returnToBar) {
        // Esc in a menu opened from the bar goes back to the bar.
        EnterMenuMode(index);
        return;
    }
    if (chosen) menus_.RunCommand(chosen);
}

bool TMenuBar::HookMessage(MSG& msg) {
    switch (msg.message) {
    case WM_MOUSEMOVE: {
        int over = ButtonAt(msg.pt);
        if (over >= 0 && over != openMenu_) {
            nextMenu_ = over;
            nextFromKeyboard_ = false;
            EndMenu();
            return true;
        }
        return false;
    }
    case WM_LBUTTONDOWN:
        // A click on the open menu's own caption closes it.
        if (ButtonAt(msg.pt) == openMenu_) {
            nextMenu_ = -1;
            EndMenu();
            return true;
        }
        return false;
    case WM_KEYDOWN: {
        int count = MenuCount();
        if (msg.wParam == VK_LEFT && currentMenu_ == rootMenu_) {
            nextMenu_ = (openMenu_ + count - 1) % count;
        } else if (msg.wParam == VK_RIGHT && !currentIsPopup_) {
            nextMenu_ = (openMenu_ + 1) % count;
        } else {
            if (msg.wParam == VK_ESCAPE && currentMenu_ == rootMenu_) backToBar_ = true;
            return false;
        }
        nextFromKeyboard_ = true;
        EndMenu();
        return true;
    }
    default:
        return false;
    }
}

LRESULT CALLBACK TMenuBar::MessageHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_MENU && g_tracking) {
        try {
            if (g_tracking->HookMessage(*reinterpret_cast<MSG*>(lParam))) return TRUE;
        } catch (...) {
            Application.HandleException(std::current_exception());
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK TMenuBar::ToolbarSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR data) {
    auto* bar = reinterpret_cast<TMenuBar*>(data);
    if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK) {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        int index = static_cast<int>(SendMessageA(hwnd, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&p)));
        if (index >= 0 && index < bar->MenuCount()) {
            bar->LeaveMenuMode();
            // Opened once this message has returned, outside the toolbar's
            // own mouse handling.
            PostMessageA(bar->Handle(), WM_TRACK_MENU, static_cast<WPARAM>(index), 0);
            return 0;
        }
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

bool TMenuBar::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (msg == WM_TRACK_MENU) {
        TrackMenu(static_cast<int>(wParam), lParam != 0);
        *result = 0;
        return true;
    }
    if (msg == WM_NOTIFY) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == toolbar_ && header->code == TBN_HOTITEMCHANGE && openMenu_ < 0 && !menuMode_) {
            auto* hot = reinterpret_cast<NMTBHOTITEM*>(header);
            std::string hint;
            if (!(hot->dwFlags & HICF_LEAVING)) {
                for (const TMenu& menu : items_) {
                    if (menu.Action->Id() == hot->idNew) hint = menu.Action->Hint;
                }
            }
            if (OnHint) OnHint(hint);
            *result = 0;
            return true;
        }
    }
    return false;
}

bool TMenuBar::PreTranslateMessage(const MSG& msg) {
    switch (msg.message) {
    case WM_SYSKEYDOWN:
        if (msg.wParam == VK_MENU) {
            if (!(msg.lParam & (1 << 30))) altAlone_ = true;
            return false;
        }
        altAlone_ = false;
        if (msg.wParam == VK_F10 && GetKeyState(VK_SHIFT) >= 0) {
            if (menuMode_) {
                LeaveMenuMode();
            } else {
                EnterMenuMode(0);
            }
            return true;
        }
        LeaveMenuMode();
        return false;
    case WM_SYSKEYUP:
        if (msg.wParam == VK_MENU && altAlone_) {
            // Alt pressed and released alone: into or out of the menu bar.
            altAlone_ = false;
            if (menuMode_) {
                LeaveMenuMode();
            } else {
                EnterMenuMode(0);
            }
            return true;
        }
        return msg.wParam == VK_F10;
    case WM_SYSCHAR: {
        int index = FindMnemonic(static_cast<char>(msg.wParam));
        altAlone_ = false;
        if (index < 0) return false;
        LeaveMenuMode();
        PostMessageA(Handle(), WM_TRACK_MENU, static_cast<WPARAM>(index), 1);
        return true;
    }
    case WM_KEYDOWN: {
        altAlone_ = false;
        if (!menuMode_) return false;
        int count = MenuCount();
        int hot = std::max(0, HotItem());
        switch (msg.wParam) {
        case VK_LEFT: SendMessageA(toolbar_, TB_SETHOTITEM, (hot + count - 1) % count, 0); break;
        case VK_RIGHT: SendMessageA(toolbar_, TB_SETHOTITEM, (hot + 1) % count, 0); break;
        case VK_DOWN:
        case VK_UP:
        case VK_RETURN:
            menuMode_ = false;
            PostMessageA(Handle(), WM_TRACK_MENU, static_cast<WPARAM>(hot), 1);
            break;
        case VK_ESCAPE: LeaveMenuMode(); break;
        default: return true;  // other keys wait for their character
        }
        if (menuMode_ && OnHint) OnHint(items_[static_cast<size_t>(std::max(0, HotItem()))].Action->Hint);
        return true;
    }
    case WM_CHAR: {
        if (!menuMode_) return false;
        int index = FindMnemonic(static_cast<char>(msg.wParam));
        if (index < 0) {
            MessageBeep(0);
            return true;
        }
        menuMode_ = false;
        PostMessageA(Handle(), WM_TRACK_MENU, static_cast<WPARAM>(index), 1);
        return true;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
        altAlone_ = false;
        if (msg.hwnd != toolbar_) LeaveMenuMode();
        return false;
    default:
        return false;
    }
}

}  // namespace ui
