#include "ui/ListView.h"

#include <algorithm>

#include "ui/Form.h"

namespace ui {

TListView::TListView(TForm& owner, const TBounds& bounds, DWORD extraStyle)
    : TControl(owner, WC_LISTVIEWA, "", bounds,
               WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS | extraStyle,
               WS_EX_CLIENTEDGE) {
    // A text cut by its column shows whole in a tip under the pointer.
    ListView_SetExtendedListViewStyle(Handle(), LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP);
}

void TListView::AddColumn(const std::string& caption, int width96) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(caption.c_str());
    column.cx = Owner().Scale(width96);
    column.iSubItem = columns_;
    SendMessageA(Handle(), LVM_INSERTCOLUMNA, columns_, reinterpret_cast<LPARAM>(&column));
    ++columns_;
}

int TListView::ColumnWidth(int column) const { return ListView_GetColumnWidth(Handle(), column); }

void TListView::SetSmallImages(HIMAGELIST images) { ListView_SetImageList(Handle(), images, LVSIL_SMALL); }

void TListView::SetItemCount(int count) {
    ListView_SetItemCountEx(Handle(), count, LVSICF_NOSCROLL);
    InvalidateRect(Handle(), nullptr, FALSE);
}

int TListView::ItemCount() const { return ListView_GetItemCount(Handle()); }

void TListView::RefreshRows(int first, int last) {
    // Only rows in view are drawn; asking for the others costs time per row.
    int top = ListView_GetTopIndex(Handle());
    int bottom = top + ListView_GetCountPerPage(Handle());
    first = std::max(first, top);
    last = std::min(last, bottom);
    if (first <= last) ListView_RedrawItems(Handle(), first, last);
}

void TListView::RefreshAll() { InvalidateRect(Handle(), nullptr, FALSE); }

int TListView::Selected() const {
    // The last row known to be selected is checked first: searching the
    // list for its selected row costs time per row.
    HWND list = Handle();
    if (selected_ >= 0 && selected_ < ItemCount() &&
        (ListView_GetItemState(list, selected_, LVIS_SELECTED) & LVIS_SELECTED)) {
        return selected_;
    }
    if (ListView_GetSelectedCount(list) == 0) return -1;
    selected_ = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    return selected_;
}

void TListView::Select(int row, bool focus) {
    // Only the selected row is cleared; clearing every row costs time per
    // row.
    int old = Selected();
    if (old >= 0 && old != row) ListView_SetItemState(Handle(), old, 0, LVIS_SELECTED | LVIS_FOCUSED);
    selected_ = -1;
    if (row < 0) return;
    UINT state = LVIS_SELECTED | (focus ? LVIS_FOCUSED : 0);
    ListView_SetItemState(Handle(), row, state, state);
    ListView_SetSelectionMark(Handle(), row);
    selected_ = row;
}

void TListView::EnsureVisible(int row) {
    // Scrolling is costly; a row already in view needs none.
    int top = ListView_GetTopIndex(Handle());
    int perPage = ListView_GetCountPerPage(Handle());
    if (row >= top && row < top + perPage) return;
    ListView_EnsureVisible(Handle(), row, FALSE);
}

void TListView::ShowRowPaged(int row) {
    int top = ListView_GetTopIndex(Handle());
    int perPage = ListView_GetCountPerPage(Handle());
    if (row >= top && row < top + perPage) return;
    RECT first{};
    if (!ListView_GetItemRect(Handle(), top, &first, LVIR_BOUNDS)) {
        ListView_EnsureVisible(Handle(), row, FALSE);
        return;
    }
    ListView_Scroll(Handle(), 0, (row - top) * (first.bottom - first.top));
}

POINT TListView::ContextMenuPoint(POINT at) const {
    if (at.x != -1 || at.y != -1) return at;
    RECT r{};
    int row = Selected();
    if (row < 0 || !ListView_GetItemRect(Handle(), row, &r, LVIR_LABEL)) {
        GetClientRect(Handle(), &r);
        r.bottom = r.top;
    }
    POINT point{r.left, r.bottom};
    ClientToScreen(Handle(), &point);
    return point;
}

int TListView::RowAt(POINT client) const {
    LVHITTESTINFO hit{};
    hit.pt = client;
    return ListView_HitTest(Handle(), &hit);
}

namespace {

// Mouse messages the pointer's tip must see to know when to show and hide.
bool IsMouseMessage(UINT msg) {
    return (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) || msg == WM_NCMOUSEMOVE;
}

HWND MakeTip(HWND owner, HWND list, UINT flags) {
    HWND tip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = flags | TTF_IDISHWND;
    tool.hwnd = list;
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = const_cast<char*>("");
    SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    // A long text wraps at three quarters of the screen's width.
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    SendMessageA(tip, TTM_SETMAXTIPWIDTH, 0, (work.right - work.left) * 3 / 4);
    return tip;
}

}  // namespace

void TListView::EnableTextTips() {
    if (hoverTip_) return;
    // These tips replace the list's own, which would show a second one.
    ListView_SetExtendedListViewStyleEx(Handle(), LVS_EX_LABELTIP | LVS_EX_INFOTIP, 0);
    hoverTip_ = MakeTip(Owner().Handle(), Handle(), 0);
    keyTip_ = MakeTip(Owner().Handle(), Handle(), TTF_TRACK | TTF_ABSOLUTE);
    SetWindowSubclass(Handle(), TipsProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

std::string TListView::CutText(int row) const {
    if (row < 0 || row >= ItemCount() || !OnGetText) return "";
    std::string text = OnGetText(row, 0);
    RECT label{}, client{};
    if (!ListView_GetItemRect(Handle(), row, &label, LVIR_LABEL)) return "";
    GetClientRect(Handle(), &client);
    // The list draws a label's text a few pixels in from each side.
    int room = std::min(label.right, client.right) - label.left - Owner().Scale(12);
    int width = ListView_GetStringWidth(Handle(), text.c_str());
    return width > room ? text : "";
}

void TListView::SetTipText(HWND tip, const std::string& text) {
    // In the list's own font, so that the tip over a row reads as the row.
    auto font = reinterpret_cast<HFONT>(SendMessageA(Handle(), WM_GETFONT, 0, 0));
    if (font && reinterpret_cast<HFONT>(SendMessageA(tip, WM_GETFONT, 0, 0)) != font) {
        SendMessageA(tip, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(Handle());
    tool.lpszText = const_cast<char*>(text.c_str());
    SendMessageA(tip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TListView::ShowKeyTip(int row) {
    std::string text = CutText(row);
    if (text.empty()) {
        HideKeyTip();
        return;
    }
    SendMessageA(hoverTip_, TTM_POP, 0, 0);
    SetTipText(keyTip_, text);
    // Over the row, its text where the row's own text starts.
    RECT label{};
    ListView_GetItemRect(Handle(), row, &label, LVIR_LABEL);
    MapWindowPoints(Handle(), nullptr, reinterpret_cast<POINT*>(&label), 2);
    RECT tip{label.left, label.top, label.right, label.bottom};
    SendMessageA(keyTip_, TTM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&tip));
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(Handle());
    SendMessageA(keyTip_, TTM_TRACKPOSITION, 0, MAKELPARAM(tip.left, tip.top));
    SendMessageA(keyTip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
}

void TListView::HideKeyTip() {
    if (!keyTip_ || !IsWindowVisible(keyTip_)) return;
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(Handle());
    SendMessageA(keyTip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
}

LRESULT CALLBACK TListView::TipsProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    auto* list = reinterpret_cast<TListView*>(self);
    switch (msg) {
    case WM_KEYDOWN: {
        int before = list->Selected();
        LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
        int after = list->Selected();
        if (after != before) list->ShowKeyTip(after);
        return result;
    }
    case WM_MOUSEMOVE: {
        POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        // A move the system makes up when a window appears under a resting
        // pointer is no move of the user's.
        if (at.x != list->lastPointer_.x || at.y != list->lastPointer_.y) {
            list->lastPointer_ = at;
            list->HideKeyTip();
            int row = list->RowAt(at);
            if (row != list->hoverRow_) {
                // The tip follows the row: the old one goes, the new text
                // shows after the usual pause.
                list->hoverRow_ = row;
                SendMessageA(list->hoverTip_, TTM_POP, 0, 0);
                list->SetTipText(list->hoverTip_, list->CutText(row));
            }
        }
        break;
    }
    case WM_MOUSELEAVE:
        list->hoverRow_ = -1;
        list->lastPointer_ = POINT{-1, -1};
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case WM_VSCROLL:
    case WM_HSCROLL:
    case WM_KILLFOCUS:
        list->HideKeyTip();
        break;
    case WM_SHOWWINDOW:
        if (!wParam) {
            list->HideKeyTip();
            SendMessageA(list->hoverTip_, TTM_POP, 0, 0);
        }
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, TipsProc, 1);
        break;
    default:
        break;
    }
    if (IsMouseMessage(msg) && list->hoverTip_) {
        MSG relayed{hwnd, msg, wParam, lParam, 0, {0, 0}};
        SendMessageA(list->hoverTip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

bool TListView::HandleNotify(NMHDR* header, LRESULT* result) {
    switch (header->code) {
    case LVN_GETDISPINFOA: {
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
        LVITEMA& item = info->item;
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
            textBuffer_ = OnGetText ? OnGetText(item.iItem, item.iSubItem) : std::string();
            lstrcpynA(item.pszText, textBuffer_.c_str(), item.cchTextMax);
        }
        if (item.mask & LVIF_IMAGE) item.iImage = (OnGetImage && item.iSubItem == 0) ? OnGetImage(item.iItem) : -1;
        *result = 0;
        return true;
    }
    case LVN_ITEMCHANGED: {
        auto* change = reinterpret_cast<NMLISTVIEW*>(header);
        if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) && change->iItem >= 0) {
            selected_ = change->iItem;
        }
        if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) &&
            OnSelectionChange) {
            OnSelectionChange();
        }
        return false;
    }
    case LVN_ODSTATECHANGED:
        if (OnSelectionChange) OnSelectionChange();
        return false;
    case NM_DBLCLK: {
        auto* activate = reinterpret_cast<NMITEMACTIVATE*>(header);
        if (OnDoubleClick && activate->iItem >= 0) OnDoubleClick(activate->iItem);
        return false;
    }
    default:
        return false;
    }
}

}  // namespace ui
