#pragma once
// A report-view list that asks its owner for the rows it shows (a virtual
// list view): it holds no copies, so a list of any length costs the same to
// show, and refreshing means telling it the row count.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "ui/Controls.h"

namespace ui {

class TListView : public TControl {
public:
    // `extraStyle`: additional LVS_ styles, e.g. LVS_NOCOLUMNHEADER.
    TListView(TForm& owner, const TBounds& bounds, DWORD extraStyle = 0);

    void AddColumn(const std::string& caption, int width96);
    int ColumnWidth(int column) const;
    void SetSmallImages(HIMAGELIST images);

    // The rows: their number, and their texts and images on demand.
    std::function<std::string(int row, int column)> OnGetText;
    std::function<int(int row)> OnGetImage;
    void SetItemCount(int count);
    int ItemCount() const;
    // Repaints rows whose data changed.
    void RefreshRows(int first, int last);
    void RefreshAll();

    // The selected row (at most one), or -1.
    int Selected() const;
    void Select(int row, bool focus = true);
    void EnsureVisible(int row);
    // Brings a row that is out of view to the top of the list, so that a
    // list filling row by row scrolls once a page rather than once a row.
    void ShowRowPaged(int row);
    // Where a context menu opens for WM_CONTEXTMENU's point: the point
    // itself, or from the keyboard (-1, -1) below the selected row or at the
    // list's top left corner; in screen coordinates.
    POINT ContextMenuPoint(POINT at) const;
    // The row at a point in client coordinates, or -1.
    int RowAt(POINT client) const;

    std::function<void()> OnSelectionChange;
    std::function<void(int row)> OnDoubleClick;

    // From now on, a row whose first column cuts its text shows the whole
    // text in a tip: under the pointer resting on the row, and over the row
    // when the keyboard selects it (until the focus, the pointer, a scroll or
    // the next key moves on).
    void EnableTextTips();
    // Hides the tip shown for the keyboard's row (the list has moved, say).
    void HideKeyTip();
    // The tooltip windows of the pointer's and the keyboard's tips; null
    // before EnableTextTips.
    HWND HoverTip() const { return hoverTip_; }
    HWND KeyTip() const { return keyTip_; }

    bool HandleNotify(NMHDR* header, LRESULT* result) override;

private:
    static LRESULT CALLBACK TipsProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    // The row's first-column text when the column cuts it, else empty.
    std::string CutText(int row) const;
    void ShowKeyTip(int row);
    void SetTipText(HWND tip, const std::string& text);

    HWND hoverTip_ = nullptr;
    HWND keyTip_ = nullptr;
    int hoverRow_ = -1;
    POINT lastPointer_{-1, -1};
    int columns_ = 0;
    std::string textBuffer_;
    mutable int selected_ = -1;  // the row last known to be selected
};

}  // namespace ui
