#pragma once
// Menus of actions: pop-up menus built from a list of entries each time they
// open, so that they always show the actions' current captions, shortcuts,
// pictures, enabled states and check marks. The owner window forwards its
// menu messages here (HandleMessage), which draws the pictures and reports
// the hint of the item under the pointer or the keyboard.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/Actions.h"

namespace ui {

class TImageSet;

// An item of a submenu filled at opening time (the recent files).
struct TDynamicItem {
    std::string Caption;
    std::function<void()> OnClick;
};

struct TMenuEntry {
    TAction* Action = nullptr;  // null: a separator
    // When set, the item opens a submenu of these items (the action gives
    // the caption, hint and enabled state).
    std::function<std::vector<TDynamicItem>()> SubItems;
};

class TActionMenus {
public:
    TActionMenus(TActionList& actions, const TImageSet* images) : actions_(actions), images_(images) {}

    // Builds a pop-up menu of the entries; DestroyMenu frees it.
    HMENU Build(const std::vector<TMenuEntry>& entries);
    // Shows the entries as a context menu at a screen position, owned by
    // `owner`, and runs the chosen item once the menu has closed.
    void Popup(HWND owner, const std::vector<TMenuEntry>& entries, POINT screen);
    // Runs the item of a command identifier returned by a menu of Build.
    void RunCommand(UINT id);
    // Brings the actions' states up to date and forgets the submenu items of
    // the last built menus; called before a menu is built.
    void Prepare() {
        actions_.Update();
        dynamic_.clear();
    }

    // WM_MEASUREITEM and WM_DRAWITEM of the pictures, WM_MENUSELECT (hints)
    // and WM_EXITMENULOOP; true when handled.
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // Told the hint of the item under the pointer or the keyboard, and an
    // empty text when the menu closes.
    std::function<void(const std::string&)> OnHint;
    // Told of every WM_MENUSELECT: the menu, the item's flags.
    std::function<void(HMENU, UINT)> OnSelect;

    // First identifier of the submenu items.
    static constexpr UINT kFirstDynamicId = 46000;

private:
    TActionList& actions_;
    const TImageSet* images_;
    std::vector<TDynamicItem> dynamic_;
};

// The menu text of an action: its caption and, after a tab, its shortcut.
std::string MenuText(const TAction& action);
// A caption without its '&' mnemonic markers ("&&" stays one '&').
std::string StripMnemonic(const std::string& caption);
// The mnemonic letter of a caption in upper case, or 0.
char MnemonicOf(const std::string& caption);
// Text shown as it stands in a menu item: every '&' doubled.
std::string EscapeMnemonics(const std::string& text);

}  // namespace ui
