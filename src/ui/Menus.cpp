#include "ui/Menus.h"

namespace ui {

int TPopupMenu::Add(const std::string& caption, const std::string& shortCut, std::function<void()> onClick) {
    items_.push_back(TItem{caption, shortCut, std::move(onClick), true});
    return static_cast<int>(items_.size()) - 1;
}

int TPopupMenu::AddSeparator() {
    items_.push_back(TItem{});
    return static_cast<int>(items_.size()) - 1;
}

void TPopupMenu::Popup(HWND owner, POINT screen) {
    if (OnPopup) OnPopup();
    HMENU menu = CreatePopupMenu();
    for (size_t i = 0; i < items_.size(); ++i) {
        const TItem& item = items_[i];
        if (item.Caption.empty()) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        std::string text = item.ShortCut.empty() ? item.Caption : item.Caption + "\t" + item.ShortCut;
        AppendMenuA(menu, MF_STRING | (item.Enabled ? MF_ENABLED : MF_GRAYED), i + 1, text.c_str());
    }
    UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, screen.x, screen.y, 0, owner, nullptr));
    DestroyMenu(menu);
    if (chosen >= 1 && chosen <= items_.size() && items_[chosen - 1].Enabled && items_[chosen - 1].OnClick) {
        items_[chosen - 1].OnClick();
    }
}

}  // namespace ui
