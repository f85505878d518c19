#include "ui/ActionMenus.h"

#include <cctype>

#include "ui/Application.h"
#include "ui/ImageSet.h"

namespace ui {

std::string StripMnemonic(const std::string& caption) {
    std::string text;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size()) ++i;
        text += caption[i];
    }
    return text;
}

char MnemonicOf(const std::string& caption) {
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return static_cast<char>(std::toupper(static_cast<unsigned char>(caption[i + 1])));
    }
    return 0;
}

std::string EscapeMnemonics(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        escaped += c;
        if (c == '&') escaped += '&';
    }
    return escaped;
}

std::string MenuText(const TAction& action) {
    std::string shortCut = ShortCutText(action.ShortCut);
    return shortCut.empty() ? action.Caption : action.Caption + "\t" + shortCut;
}

HMENU TActionMenus::Build(const std::vector<TMenuEntry>& entries) {
    HMENU menu = CreatePopupMenu();
    // When any item has a picture, every item reserves its room, so that
    // all texts line up and the widest one is measured with it.
    bool pictures = false;
    for (const TMenuEntry& entry : entries) pictures = pictures || (entry.Action && entry.Action->ImageIndex() >= 0);
    for (const TMenuEntry& entry : entries) {
        if (!entry.Action) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        TAction& action = *entry.Action;
        std::string text = MenuText(action);
        MENUITEMINFOA item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE | MIIM_DATA;
        item.dwTypeData = const_cast<char*>(text.c_str());
        item.wID = static_cast<UINT>(action.Id());
        item.fState = (action.Enabled() ? MFS_ENABLED : MFS_GRAYED) | (action.Checked() ? MFS_CHECKED : 0u);
        item.dwItemData = static_cast<ULONG_PTR>(action.Id());
        if (pictures && images_) {
            item.fMask |= MIIM_BITMAP;
            item.hbmpItem = HBMMENU_CALLBACK;
        }
        if (entry.SubItems) {
            HMENU sub = CreatePopupMenu();
            std::vector<TDynamicItem> subItems = action.Enabled() ? entry.SubItems() : std::vector<TDynamicItem>();
            for (TDynamicItem& subItem : subItems) {
                UINT id = kFirstDynamicId + static_cast<UINT>(dynamic_.size());
                MENUITEMINFOA child{};
                child.cbSize = sizeof child;
                child.fMask = MIIM_STRING | MIIM_ID | MIIM_DATA;
                child.dwTypeData = const_cast<char*>(subItem.Caption.c_str());
                child.wID = id;
                child.dwItemData = static_cast<ULONG_PTR>(action.Id());
                InsertMenuItemA(sub, GetMenuItemCount(sub), TRUE, &child);
                dynamic_.push_back(std::move(subItem));
            }
            item.fMask |= MIIM_SUBMENU;
            item.hSubMenu = sub;
            if (GetMenuItemCount(sub) == 0) item.fState = MFS_GRAYED;
        }
        InsertMenuItemA(menu, GetMenuItemCount(menu), TRUE, &item);
    }
    return menu;
}

void TActionMenus::RunCommand(UINT id) {
    if (id >= kFirstDynamicId && id - kFirstDynamicId < dynamic_.size()) {
        auto onClick = dynamic_[id - kFirstDynamicId].OnClick;
        dynamic_.clear();
        // The item belongs to an action: it runs only when that action may.
        if (onClick && !actions_.Locked()) onClick();
        return;
    }
    dynamic_.clear();
    if (TAction* action = actions_.ById(static_cast<int>(id))) action->Execute();
}

void TActionMenus::Popup(HWND owner, const std::vector<TMenuEntry>& entries, POINT screen) {
    Prepare();
    HMENU menu = Build(entries);
    UINT id = static_cast<UINT>(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN,
                                                 screen.x, screen.y, owner, nullptr));
    DestroyMenu(menu);
    if (id) RunCommand(id);
}

bool TActionMenus::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (msg) {
    case WM_MEASUREITEM: {
        auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (measure->CtlType != ODT_MENU || !images_) return false;
        // A margin on each side keeps the picture off the text.
        measure->itemWidth = static_cast<UINT>(images_->Size() + Application.Scale(6));
        measure->itemHeight = static_cast<UINT>(images_->Size());
        *result = TRUE;
        return true;
    }
    case WM_DRAWITEM: {
        auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (draw->CtlType != ODT_MENU || !images_) return false;
        TAction* action = actions_.ById(static_cast<int>(draw->itemData));
        if (action) {
            int x = draw->rcItem.left + Application.Scale(2);
            int y = draw->rcItem.top + ((draw->rcItem.bottom - draw->rcItem.top) - images_->Size()) / 2;
            images_->Draw(draw->hDC, action->ImageIndex(), x, y, !(draw->itemState & (ODS_GRAYED | ODS_DISABLED)));
        }
        *result = TRUE;
        return true;
    }
    case WM_MENUSELECT: {
        HMENU menu = reinterpret_cast<HMENU>(lParam);
        UINT flags = HIWORD(wParam);
        if (OnSelect) OnSelect(menu, flags);
        if (!OnHint) return false;
        if (flags == 0xFFFF && !menu) {
            OnHint(std::string());
            return false;
        }
        MENUITEMINFOA item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_DATA;
        BOOL byPosition = (flags & MF_POPUP) ? TRUE : FALSE;
        std::string hint;
        if (menu && GetMenuItemInfoA(menu, LOWORD(wParam), byPosition, &item)) {
            if (TAction* action = actions_.ById(static_cast<int>(item.dwItemData))) hint = action->Hint;
        }
        OnHint(hint);
        return false;
    }
    case WM_EXITMENULOOP:
        if (OnHint) OnHint(std::string());
        return false;
    default:
        return false;
    }
}

}  // namespace ui
