#pragma once
// A context menu whose items run callbacks.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ui {

class TPopupMenu {
public:
    TPopupMenu() = default;
    TPopupMenu(const TPopupMenu&) = delete;
    TPopupMenu& operator=(const TPopupMenu&) = delete;

    struct TItem {
        std::string Caption;  // empty: a separator
        std::string ShortCut;  // shown right-aligned, e.g. "Ctrl+C"
        std::function<void()> OnClick;
        bool Enabled = true;
    };
    // Adds an item; returns its index.
    int Add(const std::string& caption, const std::string& shortCut, std::function<void()> onClick);
    int AddSeparator();
    TItem& Item(int index) { return items_[static_cast<size_t>(index)]; }

    // Runs before the menu opens, to enable or disable its items.
    std::function<void()> OnPopup;
    // Shows the menu at a screen position and runs the chosen item.
    void Popup(HWND owner, POINT screen);

private:
    std::vector<TItem> items_;
};

}  // namespace ui
