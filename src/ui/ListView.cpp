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
