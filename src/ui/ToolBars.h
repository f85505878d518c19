#pragma once
// The two kinds of dockable bar: a toolbar of action buttons, and a menu bar
// whose buttons open the menus of actions, with the keyboard access of any
// Windows menu bar (Alt or F10 to reach it, Alt+letter to open a menu, the
// arrow keys between menus, Esc to leave).
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "ui/ActionMenus.h"
#include "ui/Actions.h"
#include "ui/Docking.h"

namespace ui {

class TImageSet;

// A toolbar of actions (null entries are separators), with tooltips and the
// actions' hints. Lying in a row too short for all its buttons, it shows
// the buttons that fit whole and, at its end, a chevron that drops a menu of
// the others; the chevron is a tab stop and opens with Enter, Space or Down.
class TActionToolBar : public TDockBar {
public:
    TActionToolBar(TDockSite& site, const std::string& caption, TActionList& actions, const TImageSet& images,
                   const std::vector<TAction*>& buttons);

    HWND Content() const override { return toolbar_; }
    SIZE MeasureContent(bool vertical, int available) override;
    int MinimumContentLength(bool vertical) override;
    void PlaceContent(const RECT& area) override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    // The chevron button, shown only while some buttons are hidden.
    HWND Chevron() const { return chevron_; }
    bool ChevronShown() const { return chevronShown_; }
    // The actions whose buttons the bar's length leaves out, in bar order.
    std::vector<TAction*> HiddenActions() const;
    // Drops the menu of the hidden buttons below (or beside) the chevron and
    // runs the chosen one; from the keyboard its first item is selected.
    void ShowChevronMenu(bool fromKeyboard);

    std::function<void(const std::string&)> OnHint;

private:
    std::vector<TBBUTTON> Buttons(int perRow) const;
    void Follow(TAction& action);
    void PaintChevron(const DRAWITEMSTRUCT& draw);
    static LRESULT CALLBACK ChevronSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                            DWORD_PTR data);

    TActionList& actions_;
    TActionMenus chevronMenus_;
    HWND toolbar_ = nullptr;
    HWND chevron_ = nullptr;
    std::vector<TAction*> buttons_;
    int perRow_ = 0;  // buttons per line when standing; 0 lying
    bool chevronShown_ = false;
    int shownWidth_ = 0;  // width of the buttons that fit whole
    std::string tipText_;
};

// A menu bar of top-level menus, each a caption action (its caption and
// hint) and the entries of its pop-up menu.
class TMenuBar : public TDockBar {
public:
    struct TMenu {
        TAction* Action;
        std::vector<TMenuEntry> Entries;
    };

    TMenuBar(TDockSite& site, const std::string& caption, TActionMenus& menus, std::vector<TMenu> items);
    ~TMenuBar() override;

    HWND Content() const override { return toolbar_; }
    SIZE MeasureContent(bool vertical, int available) override;
    int MinimumContentLength(bool vertical) override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    // Called by the form before its own key handling; true when the message
    // was consumed by the menu bar.
    bool PreTranslateMessage(const MSG& msg);
    // Opens the menu at `index`; from the keyboard its first item is
    // selected.
    void TrackMenu(int index, bool fromKeyboard);
    // The keyboard's menu mode: a menu caption is highlighted and the arrow
    // keys move between them.
    void EnterMenuMode(int index);
    void LeaveMenuMode();
    bool InMenuMode() const { return menuMode_; }
    int HotItem() const;
    // The menu that is open, or -1.
    int OpenMenu() const { return openMenu_; }
    int MenuCount() const { return static_cast<int>(items_.size()); }
    // The index of the menu whose caption has that mnemonic, or -1.
    int FindMnemonic(char letter) const;

    // Told of every selection in an open menu (WM_MENUSELECT at the owner).
    void MenuSelect(HMENU menu, UINT flags);

    std::function<void(const std::string&)> OnHint;

private:
    static LRESULT CALLBACK MessageHook(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ToolbarSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                            DWORD_PTR data);
    bool HookMessage(MSG& msg);
    int ButtonAt(POINT screen) const;
    std::vector<TBBUTTON> Buttons() const;
    void BreakLines(bool vertical, int available);

    TActionMenus& menus_;
    std::vector<TMenu> items_;
    HWND toolbar_ = nullptr;
    std::vector<int> widths_;      // each caption's width on one line
    std::vector<bool> wrapAfter_;  // the captions that end a line
    bool menuMode_ = false;
    bool altAlone_ = false;
    HWND focusBefore_ = nullptr;
    // Tracking state of an open menu.
    int openMenu_ = -1;
    int nextMenu_ = -1;
    bool nextFromKeyboard_ = false;
    bool backToBar_ = false;
    HMENU rootMenu_ = nullptr;
    HMENU currentMenu_ = nullptr;
    bool currentIsPopup_ = false;
    HHOOK hook_ = nullptr;
};

}  // namespace ui
